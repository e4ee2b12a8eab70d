#include "slowfileopspecification.h"

SlowFileOpSpecification::SlowFileOpSpecification(const QString &failureText,
                                                 RollbackDataList *rollbackList,
                                                 const QString &sourcePath,
                                                 const QString &targetPath, QObject *parent,
                                                 qreal weight)
    : SlowFileOpSpecification(failureText, rollbackList, sourcePath, QString(), targetPath, parent,
                              weight)
{
}

SlowFileOpSpecification::SlowFileOpSpecification(
    const QString &failureText, RollbackDataList *rollbackList, const QString &sourcePath,
    const QString &patchPath, const QString &targetPath, QObject *parent, qreal weight)
    : ASyncTaskSpecification(parent, weight), m_RollbackList(rollbackList),
      m_SourcePath(sourcePath), m_PatchPath(patchPath), m_TargetPath(targetPath),
      m_FailureText(failureText)
{
}

void SlowFileOpSpecification::runDone(bool ok)
{
    if (ok && m_RollbackList)
        m_RollbackList->append(RollbackData(FILE_CREATE, m_TargetPath));
    if (!ok)
        emit message(m_FailureText);
    ASyncTaskSpecification::runDone(ok);
}
