#include "filedeletetaskspecification.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

FileDeleteTaskSpecification::FileDeleteTaskSpecification(bool mustSucceed, const QString &path,
                                                         bool recursive, QObject *parent,
                                                         qreal weight)
    : FastFileOpTaskSpecification(path, nullptr, parent, weight), m_MustSucceed(mustSucceed),
      m_Recursive(recursive)
{
}

bool FileDeleteTaskSpecification::doOp()
{
    const QString &p = m_TargetPath;
    const QFileInfo fi(p);
    bool ok;
    if (!fi.isDir()) {
        ok = QFile::remove(p);
        qDebug() << "Deleted file" << p << (ok ? "true" : "false");
        if (ok)
            emit message(tr("Deleted file '%1'").arg(p));
    } else if (m_Recursive) {
        ok = QDir(p).removeRecursively();
        qDebug() << "Recursively deleted directory" << p << (ok ? "true" : "false");
        if (ok)
            emit message(tr("Recursively deleted directory '%1'").arg(p));
    } else {
        ok = QDir().rmpath(p);
        qDebug() << "Deleted directory" << p << (ok ? "true" : "false");
        if (ok)
            emit message(tr("Deleted directory '%1'").arg(p));
    }
    if (m_MustSucceed && !ok) {
        emit message(tr("Could not delete '%1'").arg(p));
        return false;
    }
    return true;
}
