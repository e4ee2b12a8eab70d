#include "fastfileoptaskspecification.h"

FastFileOpTaskSpecification::FastFileOpTaskSpecification(const QString &targetPath,
                                                         RollbackDataList *rollbackList,
                                                         QObject *parent, qreal weight)
    : TaskSpecification(parent, weight), m_RollbackList(rollbackList), m_TargetPath(targetPath)
{
}

void FastFileOpTaskSpecification::execute()
{
    m_TaskState = RUNNING;
    if (doOp())
        setFinished();
    else
        setFailed();
}

void FastFileOpTaskSpecification::addRollback(const RollbackData &record)
{
    if (m_RollbackList)
        m_RollbackList->append(record);
}
