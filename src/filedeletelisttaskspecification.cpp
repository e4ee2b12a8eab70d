#include "filedeletelisttaskspecification.h"

#include "configuration.h"
#include "filedeletetaskspecification.h"

#include <QDir>
#include <QFileInfo>

FileDeleteListTaskSpecification::FileDeleteListTaskSpecification(
    const QList<DeleteEntry> *deleteList, Configuration *config, QObject *parent, qreal weight)
    : ComposedTaskSpecification(1, parent, weight), m_DeleteList(deleteList), m_Config(config)
{
}

void FileDeleteListTaskSpecification::execute()
{
    emit message(tr("Starting deleting files"));
    makeSubtasksAndStart();
}

void FileDeleteListTaskSpecification::reset()
{
    clearSubtasks();
    TaskSpecification::reset();
}

void FileDeleteListTaskSpecification::makeSubtasksAndStart()
{
    const QDir base(m_Config->m_InstallDir);
    const qreal weight = 1.0 / m_DeleteList->size();
    for (const DeleteEntry &e : *m_DeleteList) {
        const QString path = QFileInfo(base, e.path).filePath();
        addSubtask(new FileDeleteTaskSpecification(false, path, e.recursive, this, weight));
    }
    m_TaskState = RUNNING;
    startSubtasks();
}
