#include "dircreatetaskspecification.h"

#include <QDir>
#include <QFileInfo>

DirCreateTaskSpecification::DirCreateTaskSpecification(const QString &dirPath,
                                                       RollbackDataList *rollbackList,
                                                       QObject *parent, qreal weight)
    : FastFileOpTaskSpecification(dirPath, rollbackList, parent, weight)
{
}

bool DirCreateTaskSpecification::doOp()
{
    return createDir(m_TargetPath);
}

bool DirCreateTaskSpecification::createDir(const QString &path)
{
    const QFileInfo fi(path);
    if (fi.exists()) {
        if (fi.isDir())
            return true;
        emit message(
            tr("Could not create dir '%1' because it already exists and is not a dir").arg(path));
        return false;
    }
    QDir parent = fi.dir();
    if (parent.path() == "." || fi.isRoot()) {
        emit message(tr("Could not create dir %1").arg(m_TargetPath));
        return false;
    }
    if (!parent.exists() && !createDir(parent.path()))
        return false;
    const bool ok = parent.mkdir(QDir(path).dirName());
    if (ok)
        addRollback(RollbackData(DIR_CREATE, path));
    else
        emit message(tr("unable to create dir %1").arg(path));
    return ok;
}
