#include "filereplacetaskspecification.h"

#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "filecopytaskspecification.h"
#include "filerenametaskspecification.h"
#include "filetaskspecification_patch.h"
#include "fileunpacktaskspecification_lzma2.h"
#include "fileunpacktaskspecification_zip.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {

const QStringList executableNames = {"ov3client_linux_x86",    "ov3client_linux_amd64",
                                     "ov3client_runscript.sh", "update",
                                     "fault_report",           "pkg_setup",
                                     "QtWebEngineProcess"};
const QStringList libraryCompleteSuffixes = {"so", "so.0", "so.1", "so.4", "so.5"};

} // namespace

FileReplaceTaskSpecification::FileReplaceTaskSpecification(const ReplaceEntry &entry,
                                                           RollbackDataList *parentRollback,
                                                           Configuration *config, QObject *parent,
                                                           qreal weight)
    : ComposedTaskSpecification(1, parent, weight), m_Entry(entry),
      m_ParentRollback(parentRollback), m_Config(config)
{
}

QString FileReplaceTaskSpecification::stagingPath(const QString &installedPath)
{
    return installedPath + ".ov3_new";
}

QString FileReplaceTaskSpecification::backupPath(const QString &installedPath)
{
    return installedPath + ".ov3_old";
}

QString FileReplaceTaskSpecification::installedRelativePath() const
{
    return m_Entry.targetName.isEmpty() ? m_Entry.key : m_Entry.targetName;
}

void FileReplaceTaskSpecification::execute()
{
    emit message(tr("add/replace %1").arg(m_Entry.key));
    makeSubtasksAndStart();
}

void FileReplaceTaskSpecification::makeSubtasksAndStart()
{
    const QString rel = installedRelativePath();
    const QString src = QFileInfo(QDir(m_Config->m_TempDir), m_Entry.key).filePath();
    const QString dst = QFileInfo(QDir(m_Config->m_InstallDir), rel).filePath();
    const bool hasPatch = !m_Entry.patchName.isEmpty();
    qDebug() << "FileReplaceTaskSpecification: entry:" << m_Entry.key << " src:" << src
             << " dstFile:" << dst << " hasPatch:" << (hasPatch ? "true" : "false")
             << " patchFile:" << m_Entry.patchName;

    // Leftovers of an interrupted run would block the renames below. A backup
    // without its installed file is the previous content caught between the
    // two renames, so it goes back first.
    const QString staging = stagingPath(dst);
    const QString backup = backupPath(dst);
    if (QFile::exists(staging)) {
        const bool removed = QFile::remove(staging);
        qDebug() << "Remove stale" << staging << removed;
    }
    if (QFile::exists(backup)) {
        if (QFileInfo::exists(dst)) {
            const bool removed = QFile::remove(backup);
            qDebug() << "Remove stale" << backup << removed;
        } else {
            const bool restored = QFile::rename(backup, dst);
            qDebug() << "Restore" << backup << restored;
        }
    }

    if (m_Entry.targetName.isEmpty()) {
        addSubtask(new FileCopyTaskSpecification(&m_Rollback, src, staging, this, 1.0));
    } else {
        if (hasPatch) {
            qDebug() << "HAS PATCH" << m_Entry.patchName;
            const QString old = m_Config->m_TempDir + "/" + rel + "_old";
            const bool removed = QFile::remove(old);
            qDebug() << "Remove" << old << removed;
            const QString oldDir = QFileInfo(old).absolutePath();
            const bool oldDirExists = QFileInfo::exists(oldDir);
            qDebug() << "tempOldAbsPath" << oldDir << oldDirExists;
            if (!oldDirExists) {
                const bool created = QDir().mkpath(oldDir);
                qDebug() << "Created" << oldDir << created;
            }
            const bool copied = QFile::copy(dst, old);
            qDebug() << "Copy" << dst << "->" << old << copied;
            emit message(tr("Patching %1").arg(rel));
            addSubtask(new FileTaskSpecification_patch(
                &m_Rollback, old, m_Config->m_TempDir + "/" + m_Entry.patchName, staging, this,
                0.8));
        } else if (QFileInfo(src).suffix() == "_lzma2_") {
            addSubtask(new FileUnpackTaskSpecification_lzma2(&m_Rollback, src, staging, this, 0.8));
        } else {
            addSubtask(new FileUnpackTaskSpecification_zip(&m_Rollback, src, staging, this, 0.8));
        }
        addSubtask(new CheckSignatureTaskSpecification(staging, m_Entry.sha512, true, this, 0.2));
    }

    // Into place: the installed file (if any) is moved aside, then the new one
    // takes its name. Both renames are quick and journalled.
    if (QFileInfo::exists(dst))
        addSubtask(new FileRenameTaskSpecification(dst, backup, &m_Rollback, this, 0.0));
    addSubtask(new FileRenameTaskSpecification(staging, dst, &m_Rollback, this, 0.0));

    m_TaskState = RUNNING;
    startSubtasks();
}

void FileReplaceTaskSpecification::subtasksDone()
{
    if (collectSubtaskState() == FINISHED) {
        if (m_ParentRollback)
            m_ParentRollback->append(m_Rollback);
        makeSingleFileExecutable(m_Config->m_InstallDir + "/" + installedRelativePath());
    } else {
        rollbackAll(m_Rollback, this);
    }
    ComposedTaskSpecification::subtasksDone();
}

void FileReplaceTaskSpecification::reset()
{
    clearSubtasks();
    rollbackAll(m_Rollback, this);
    TaskSpecification::reset();
}

void FileReplaceTaskSpecification::makeSingleFileExecutable(const QString &path)
{
    const QFileInfo fi(path);
    qDebug() << "Executable check" << path << fi.fileName() << fi.completeSuffix();
    if (executableNames.contains(fi.fileName()) ||
        libraryCompleteSuffixes.contains(fi.completeSuffix())) {
        QFile::setPermissions(path, QFileDevice::Permissions(0x7777));
        qDebug() << "Set executable flag on" << path;
    }
}
