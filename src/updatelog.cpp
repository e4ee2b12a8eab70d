#include "updatelog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutexLocker>

#include <cstdlib>

bool UpdateLog::s_Enabled = false;
UpdateLog *UpdateLog::s_Instance = nullptr;

namespace {

const char *levelSeparator(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "\t|\tDebug\t|\t";
    case QtWarningMsg:
        return "\t|\tWarning\t|\t";
    case QtCriticalMsg:
        return "\t|\tCritical\t|\t";
    case QtFatalMsg:
        return "\t|\tFatal\t|\t";
    case QtInfoMsg:
        return "\t|\tInfo\t|\t";
    }
    return nullptr;
}

} // namespace

UpdateLog::UpdateLog()
{
    s_Enabled = QFile::exists(QDir::tempPath() + "/ov3_update_log");
}

UpdateLog *UpdateLog::instance()
{
    // The handler may be called from pool threads; creation must happen once.
    static QBasicMutex creationMutex;
    QMutexLocker locker(&creationMutex);
    if (!s_Instance) {
        s_Instance = new UpdateLog;
        s_Instance->open();
    }
    return s_Instance;
}

bool UpdateLog::exists()
{
    return s_Instance != nullptr;
}

void UpdateLog::open()
{
    if (!s_Enabled)
        return;
    QString stamp = QDateTime::currentDateTime().toString(Qt::ISODate);
    stamp.replace(":", "_");
    stamp.replace("T", "__");
    const QString dir = QDir::toNativeSeparators(QDir::tempPath() + QDir::separator() +
                                                 "orvane_update_log" + QDir::separator());
    if (!QDir(dir).exists())
        QDir().mkdir(dir);
    QMutexLocker locker(&m_Mutex);
    m_File = new QFile(dir + "update__" + stamp + ".log");
    m_File->open(QIODevice::WriteOnly | QIODevice::Text);
    m_Stream.setDevice(m_File);
}

void UpdateLog::close()
{
    QMutexLocker locker(&m_Mutex);
    if (!m_File)
        return;
    m_Stream.flush();
    m_File->close();
}

QString UpdateLog::fileName() const
{
    return m_File ? m_File->fileName() : QString();
}

void UpdateLog::write(QtMsgType type, const QString &message)
{
    const char *separator = levelSeparator(type);
    if (!separator)
        return;
    QByteArray line = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss:zzz").toLatin1();
    line.append(separator);
    line.append(message.toLocal8Bit());
    line.append('\n');
    // One lock per line: lines written from pool threads never interleave, and
    // each line reaches the file before the next message is taken.
    QMutexLocker locker(&m_Mutex);
    QIODevice *device = m_Stream.device();
    if (device && device->isOpen()) {
        device->write(line);
        m_File->flush();
    }
}

void updateLogMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (!UpdateLog::isEnabled())
        return;
    UpdateLog::instance()->write(type, message);
    if (type == QtFatalMsg)
        abort();
}
