#include "filetaskspecification_patch.h"

#include "filefuncpatch.h"

#include <QDebug>

FileTaskSpecification_patch::FileTaskSpecification_patch(RollbackDataList *rollbackList,
                                                         const QString &sourcePath,
                                                         const QString &patchPath,
                                                         const QString &targetPath, QObject *parent,
                                                         qreal weight)
    : SlowFileOpSpecification(tr("Could not patch '%1' to '%2'").arg(sourcePath).arg(targetPath),
                              rollbackList, sourcePath, patchPath, targetPath, parent, weight)
{
    qDebug() << "FileTaskSpecification_patch"
             << "srcFile:" << sourcePath << "patchFile:" << patchPath << "dstFile:" << targetPath;
}

ASyncFunc *FileTaskSpecification_patch::createFunc()
{
    return new FileFuncPatch(m_SourcePath, m_PatchPath, m_TargetPath);
}
