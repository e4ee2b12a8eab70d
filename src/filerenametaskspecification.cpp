#include "filerenametaskspecification.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

FileRenameTaskSpecification::FileRenameTaskSpecification(const QString &sourcePath,
                                                         const QString &targetPath,
                                                         RollbackDataList *rollbackList,
                                                         QObject *parent, qreal weight)
    : FastFileOpTaskSpecification(targetPath, rollbackList, parent, weight),
      m_SourcePath(sourcePath)
{
}

bool FileRenameTaskSpecification::doOp()
{
    const QString dir = QFileInfo(m_TargetPath).path();
    if (!QDir().exists(dir))
        QDir().mkdir(dir);
    const bool ok = QFile::rename(m_SourcePath, m_TargetPath);
    if (ok)
        addRollback(RollbackData(FILE_RENAME, m_SourcePath, m_TargetPath));
    else
        emit message(tr("Could not rename '%1' to '%2'").arg(m_SourcePath, m_TargetPath));
    return ok;
}
