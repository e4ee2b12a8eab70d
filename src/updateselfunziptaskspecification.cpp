#include "updateselfunziptaskspecification.h"

#include "configuration.h"
#include "filetaskspecification_patch.h"
#include "fileunpacktaskspecification_lzma2.h"
#include "fileunpacktaskspecification_zip.h"
#include "updateinidata.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

UpdateSelfUnzipTaskSpecification::UpdateSelfUnzipTaskSpecification(
    const QList<ReplaceEntry> *replaceList, Configuration *config, QObject *parent, qreal weight)
    : ComposedTaskSpecification(2, parent, weight), m_ReplaceList(replaceList), m_Config(config)
{
}

void UpdateSelfUnzipTaskSpecification::execute()
{
    makeSubtasksAndStart();
}

void UpdateSelfUnzipTaskSpecification::reset()
{
    clearSubtasks();
    TaskSpecification::reset();
}

void UpdateSelfUnzipTaskSpecification::makeSubtasksAndStart()
{
    const QString tempDir = m_Config->m_TempDir;
    for (const ReplaceEntry &entry : *m_ReplaceList) {
        if (entry.targetName.isEmpty())
            continue;
        const QString rel = entry.prefixedTargetPath(QString());
        const bool hasPatch = !entry.patchName.isEmpty();
        qDebug() << "Extracting updater file" << entry.key << rel << (hasPatch ? "true" : "false");
        const QString out = tempDir + "/" + rel;
        const QString outDir = QFileInfo(out).absolutePath();
        if (!QFileInfo::exists(outDir))
            QDir().mkpath(outDir);
        if (hasPatch) {
            const QString old = tempDir + "/" + rel + "_old";
            QFile::remove(old);
            QFile::copy(m_Config->m_InstallDir + "/" + rel, old);
            emit message(tr("Patching %1").arg(rel));
            addSubtask(new FileTaskSpecification_patch(
                nullptr, old, tempDir + "/" + entry.patchName, out, this, 1.0));
        } else if (QFileInfo(entry.key).suffix() == "_lzma2_") {
            addSubtask(new FileUnpackTaskSpecification_lzma2(nullptr, tempDir + "/" + entry.key,
                                                             out, this, 1.0));
        } else {
            addSubtask(new FileUnpackTaskSpecification_zip(nullptr, tempDir + "/" + entry.key, out,
                                                           this, 1.0));
        }
    }
    m_TaskState = RUNNING;
    startSubtasks();
}

void UpdateSelfUnzipTaskSpecification::subtasksDone()
{
    QFile updater(m_Config->m_TempDir + "/update");
    const bool exists = updater.exists();
    qDebug() << "chmod +x" << updater.fileName() << exists;
    if (exists)
        updater.setPermissions(QFileDevice::Permissions(0x7777));

    if (!UpdateIniData::modifyTempIni(m_Config->m_TempDir)) {
        qDebug() << "Failed to write temp update.ini";
        emit error(tr("Failed to write temp update.ini. The updater does not seem to have the "
                      "required write permissions."));
        // Without the session record the new updater cannot continue, and the
        // run must end rather than wait for a task that never ends.
        setFailed();
        return;
    }
    copyTranslations();
    ComposedTaskSpecification::subtasksDone();
}

void UpdateSelfUnzipTaskSpecification::copyTranslations()
{
    const QDir source(QCoreApplication::applicationDirPath() + "/translations");
    const QStringList names =
        source.entryList(QStringList() << "update_*.qm", QDir::Files, QDir::Unsorted);
    const QString targetDir = m_Config->m_TempDir + "/translations";
    if (!QFileInfo::exists(targetDir))
        QDir().mkdir(targetDir);
    for (const QString &name : names) {
        const QString from = source.path() + "/" + name;
        const QString to = targetDir + "/" + name;
        qDebug() << "Copying qm file" << from << to;
        if (!QFile::exists(to))
            QFile::copy(from, to);
    }
}
