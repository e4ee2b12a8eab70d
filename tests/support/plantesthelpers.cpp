#include "plantesthelpers.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

namespace plantest {

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(1);
    }
    return true;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QString sha512Hex(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha512).toHex());
}

int runTool(const QString &tool, const QStringList &args, QString *errors)
{
    QProcess process;
    process.start(QStringLiteral(OV3_BIN_DIR) + QLatin1Char('/') + tool, args);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    if (errors)
        *errors = QString::fromLocal8Bit(process.readAllStandardError());
    return process.exitCode();
}

QString demoPrivateKey()
{
    return QStringLiteral(OV3_SOURCE_DIR "/keys/demo-only/private.der");
}

QString demoPublicKey()
{
    return QStringLiteral(OV3_SOURCE_DIR "/keys/demo-only/public.der");
}

} // namespace plantest
