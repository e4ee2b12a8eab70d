#include "fileunpacktaskspecification_lzma2.h"

#include "fileunpackfunc_lzma2.h"

FileUnpackTaskSpecification_lzma2::FileUnpackTaskSpecification_lzma2(RollbackDataList *rollbackList,
                                                                     const QString &sourcePath,
                                                                     const QString &targetPath,
                                                                     QObject *parent, qreal weight)
    : SlowFileOpSpecification(tr("Could not unpack '%1' to '%2'").arg(sourcePath).arg(targetPath),
                              rollbackList, sourcePath, targetPath, parent, weight)
{
}

ASyncFunc *FileUnpackTaskSpecification_lzma2::createFunc()
{
    return new FileUnpackFunc_lzma2(m_SourcePath, m_PatchPath, m_TargetPath);
}
