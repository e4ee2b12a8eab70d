#include "faultyfileserver.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <sys/socket.h>

namespace {
const QByteArray kBasePath = "/updater-images/client/";

QByteArray statusResponse(int code, const QByteArray &reason, const QByteArray &extraHeaders = {})
{
    return "HTTP/1.1 " + QByteArray::number(code) + ' ' + reason + "\r\n" + extraHeaders +
           "Content-Length: 0\r\nConnection: close\r\n\r\n";
}

// A close that the peer sees as a connection reset, not an orderly end.
void resetConnection(QTcpSocket *socket)
{
    const qintptr fd = socket->socketDescriptor();
    if (fd != -1) {
        struct linger lingerOff = {1, 0};
        ::setsockopt(int(fd), SOL_SOCKET, SO_LINGER, &lingerOff, sizeof(lingerOff));
    }
    socket->abort();
}
} // namespace

FaultyFileServer::FaultyFileServer(const QString &rootDir, QObject *parent)
    : QObject(parent), m_Root(rootDir)
{
    connect(&m_Server, &QTcpServer::newConnection, this, &FaultyFileServer::onNewConnection);
}

FaultyFileServer::~FaultyFileServer()
{
    m_Server.close();
}

bool FaultyFileServer::listen()
{
    return m_Server.listen(QHostAddress::LocalHost, 0);
}

QString FaultyFileServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_Server.serverPort()) +
           QString::fromLatin1(kBasePath);
}

void FaultyFileServer::setFaults(const QString &path, const QList<Fault> &faults)
{
    m_Faults[path] = faults;
}

void FaultyFileServer::setPermanentFault(const QString &path, Fault fault)
{
    m_PermanentFaults[path] = fault;
}

int FaultyFileServer::stalledConnections() const
{
    int n = 0;
    for (QTcpSocket *socket : m_Stalled)
        if (socket->state() == QAbstractSocket::ConnectedState)
            ++n;
    return n;
}

void FaultyFileServer::onNewConnection()
{
    while (QTcpSocket *socket = m_Server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { handleRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, socket] { m_Stalled.removeAll(socket); });
    }
}

void FaultyFileServer::handleRequest(QTcpSocket *socket)
{
    // One request per connection: every answer closes it.
    if (socket->property("answered").toBool())
        return;
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    if (!head.contains("\r\n\r\n")) {
        socket->setProperty("head", head);
        return;
    }
    socket->setProperty("answered", true);
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    QByteArray target = requestLine.value(1);
    QString path;
    if (requestLine.value(0) == "GET" && target.startsWith(kBasePath))
        path = QUrl::fromPercentEncoding(target.mid(kBasePath.size()));
    m_Requests.append(path);
    emit requested(path);
    respond(socket, path, nextFault(path));
}

FaultyFileServer::Fault FaultyFileServer::nextFault(const QString &path)
{
    auto it = m_Faults.find(path);
    if (it != m_Faults.end() && !it->isEmpty())
        return it->takeFirst();
    return m_PermanentFaults.value(path, Serve);
}

void FaultyFileServer::respond(QTcpSocket *socket, const QString &path, Fault fault)
{
    switch (fault) {
    case NotFound:
        socket->write(statusResponse(404, "Not Found"));
        socket->disconnectFromHost();
        return;
    case Redirect:
        socket->write(
            statusResponse(302, "Found", "Location: " + (baseUrl() + path).toUtf8() + "\r\n"));
        socket->disconnectFromHost();
        return;
    case ServerError:
        socket->write(statusResponse(500, "Internal Server Error"));
        socket->disconnectFromHost();
        return;
    default:
        break;
    }

    QFile file(m_Root + QLatin1Char('/') + path);
    if (path.isEmpty() || path.contains(QLatin1String("..")) || !file.open(QIODevice::ReadOnly)) {
        socket->write(statusResponse(404, "Not Found"));
        socket->disconnectFromHost();
        return;
    }
    const QByteArray body = file.readAll();
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n");

    if (fault == Serve) {
        socket->write(body);
        socket->disconnectFromHost();
        return;
    }
    socket->write(body.left(body.size() / 2));
    switch (fault) {
    case CutShort:
        socket->disconnectFromHost();
        break;
    case Reset:
        // Let the half body leave first, so the client sees data and then the reset.
        socket->flush();
        QTimer::singleShot(50, socket, [socket] { resetConnection(socket); });
        break;
    case Stall:
        m_Stalled.append(socket);
        break;
    default:
        break;
    }
}
