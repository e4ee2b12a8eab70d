#include "applicationdirlock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

ApplicationDirLock::ApplicationDirLock()
{
    const QByteArray lockPath =
        QFile::encodeName(QCoreApplication::applicationDirPath() + "/.ov3-appdir.lock");
    m_Fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_Fd >= 0)
        ::flock(m_Fd, LOCK_EX);
    removeUpdateIni();
}

ApplicationDirLock::~ApplicationDirLock()
{
    removeUpdateIni();
    if (m_Fd >= 0) {
        ::flock(m_Fd, LOCK_UN);
        ::close(m_Fd);
    }
}

QString ApplicationDirLock::updateIniPath()
{
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath("update.ini");
}

void ApplicationDirLock::removeUpdateIni()
{
    const QString path = updateIniPath();
    if (QFileInfo(path).isDir())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
}
