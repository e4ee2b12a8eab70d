#include "singleinstancechecker.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

namespace {
const int kTimeoutMs = 1000;
}

SingleInstanceChecker::SingleInstanceChecker(QObject *parent)
    : SingleInstanceChecker(serverName(), parent)
{
}

SingleInstanceChecker::SingleInstanceChecker(const QString &name, QObject *parent)
    : QObject(parent)
{
    m_Server = new QLocalServer(this);
    connect(m_Server, SIGNAL(newConnection()), this, SLOT(onNewConnection()));
    listen(name);
}

SingleInstanceChecker::~SingleInstanceChecker()
{
    m_Server->close();
    if (m_CurrentConnection)
        m_CurrentConnection->close();
}

void SingleInstanceChecker::listen(const QString &name)
{
    if (m_Server->listen(name))
        return;
    // A run that crashed leaves its socket file behind, and listening on it
    // fails. Only when nobody answers there is it safe to take the name over.
    if (m_Server->serverError() != QAbstractSocket::AddressInUseError)
        return;
    QLocalSocket probe;
    probe.connectToServer(name, QIODevice::ReadWrite);
    if (probe.waitForConnected(kTimeoutMs))
        return;
    qDebug() << "Removing stale single-instance socket" << name;
    QLocalServer::removeServer(name);
    m_Server->listen(name);
}

bool SingleInstanceChecker::isListening() const
{
    return m_Server->isListening();
}

QString SingleInstanceChecker::serverName()
{
    return serverName(QCoreApplication::applicationFilePath(), QDir::homePath());
}

QString SingleInstanceChecker::serverName(const QString &executablePath, const QString &homePath)
{
    QString key = executablePath.toLower() + homePath;
    key.remove('/');
    key.remove(':');
    const QByteArray bytes = key.toUtf8();
    const quint16 crc = qChecksum(bytes.constData(), uint(bytes.size()));
    return "OV3ClientUpdate" + QString::number(crc, 16);
}

bool SingleInstanceChecker::notifyRunningInstance(const QString &message)
{
    return notifyRunningInstance(serverName(), message);
}

bool SingleInstanceChecker::notifyRunningInstance(const QString &name, const QString &message)
{
    QLocalSocket socket;
    socket.connectToServer(name, QIODevice::ReadWrite);
    if (!socket.waitForConnected(kTimeoutMs))
        return false;
    if (socket.write(message.toLatin1()) == 0)
        return false;
    return socket.waitForBytesWritten(kTimeoutMs);
}

void SingleInstanceChecker::onNewConnection()
{
    delete m_CurrentConnection;
    m_CurrentConnection = m_Server->nextPendingConnection();
    if (m_CurrentConnection)
        connect(m_CurrentConnection, SIGNAL(readyRead()), this, SLOT(onReadyRead()));
}

void SingleInstanceChecker::onReadyRead()
{
    if (!m_CurrentConnection)
        return;
    const QByteArray bytes = m_CurrentConnection->readAll();
    const int end = bytes.indexOf('\0');
    const QString text = QString::fromLatin1(end < 0 ? bytes : bytes.left(end));
    emit otherInstanceActivate(text);
    // deleteLater: this slot runs inside the socket's own signal emission.
    m_CurrentConnection->deleteLater();
    m_CurrentConnection = nullptr;
}
