#include "filecopytaskspecification.h"

#include "filecopyfunc.h"

FileCopyTaskSpecification::FileCopyTaskSpecification(RollbackDataList *rollbackList,
                                                     const QString &sourcePath,
                                                     const QString &targetPath, QObject *parent,
                                                     qreal weight)
    : SlowFileOpSpecification(tr("Could not copy '%1' to '%2'").arg(sourcePath).arg(targetPath),
                              rollbackList, sourcePath, targetPath, parent, weight)
{
}

ASyncFunc *FileCopyTaskSpecification::createFunc()
{
    return new FileCopyFunc(m_SourcePath, m_PatchPath, m_TargetPath);
}
