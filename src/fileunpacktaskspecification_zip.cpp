#include "fileunpacktaskspecification_zip.h"

#include "fileunpackfunc_zip.h"

FileUnpackTaskSpecification_zip::FileUnpackTaskSpecification_zip(RollbackDataList *rollbackList,
                                                                 const QString &sourcePath,
                                                                 const QString &targetPath,
                                                                 QObject *parent, qreal weight)
    : SlowFileOpSpecification(tr("Could not unzip '%1' to '%2'").arg(sourcePath).arg(targetPath),
                              rollbackList, sourcePath, targetPath, parent, weight)
{
}

ASyncFunc *FileUnpackTaskSpecification_zip::createFunc()
{
    return new FileUnpackFunc_Zip(m_SourcePath, m_PatchPath, m_TargetPath);
}
