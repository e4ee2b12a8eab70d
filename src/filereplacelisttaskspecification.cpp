#include "filereplacelisttaskspecification.h"

#include "configuration.h"
#include "dircreatetaskspecification.h"
#include "filereplacetaskspecification.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>

FileReplaceListTaskSpecification::FileReplaceListTaskSpecification(
    const QList<ReplaceEntry> *replaceList, Configuration *config, QObject *parent, qreal weight)
    : ComposedTaskSpecification(2, parent, weight), m_ReplaceList(replaceList), m_Config(config)
{
}

void FileReplaceListTaskSpecification::execute()
{
    emit message(tr("Starting file updates"));
    makeSubtasks();
    m_TaskState = RUNNING;
    startSubtasks();
}

void FileReplaceListTaskSpecification::makeSubtasks()
{
    const QDir base(m_Config->m_InstallDir);
    QSet<QString> seen;
    QStringList missing;
    for (const ReplaceEntry &entry : *m_ReplaceList) {
        const QFileInfo fi(base, entry.prefixedTargetPath(QString()));
        const QString dir = fi.path();
        if (seen.contains(dir))
            continue;
        seen.insert(dir);
        if (!fi.dir().exists())
            missing.append(dir);
    }
    missing.sort(Qt::CaseSensitive);
    for (const QString &dir : missing)
        addSubtask(new DirCreateTaskSpecification(dir, &m_Rollback, this, 0.1 / missing.size()));

    const qreal weight = (missing.isEmpty() ? 1.0 : 0.9) / m_ReplaceList->size();
    for (const ReplaceEntry &entry : *m_ReplaceList)
        addSubtask(new FileReplaceTaskSpecification(entry, &m_Rollback, m_Config, this, weight));
}

void FileReplaceListTaskSpecification::subtasksDone()
{
    if (collectSubtaskState() != FINISHED) {
        emit message(tr("rolling back file updates"));
        rollbackAll(m_Rollback, this);
    } else {
        removeBackups();
    }
    ComposedTaskSpecification::subtasksDone();
}

void FileReplaceListTaskSpecification::reset()
{
    clearSubtasks();
    rollbackAll(m_Rollback, this);
    TaskSpecification::reset();
}

// The previous contents were kept only to be able to undo the replacement;
// once every file is in place they go, and with them the journal, which could
// no longer bring anything back.
void FileReplaceListTaskSpecification::removeBackups()
{
    for (const RollbackData &record : qAsConst(m_Rollback)) {
        if (record.m_Op != FILE_RENAME ||
            record.m_Path != FileReplaceTaskSpecification::backupPath(record.m_RestorePath))
            continue;
        const bool removed = QFile::remove(record.m_Path);
        qDebug() << "Remove backup" << record.m_Path << removed;
    }
    m_Rollback.clear();
}
