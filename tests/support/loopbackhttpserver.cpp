#include "loopbackhttpserver.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QMetaObject>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// Requests larger than this are not from the updater.
const int MaxRequestHeaderSize = 64 * 1024;
const char *const BufferProperty = "ov3RequestBuffer";

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

bool parseRequestHead(const QByteArray &head, LoopbackHttpServer::Request *request)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3)
        return false;
    request->method = requestLine.at(0);
    request->target = requestLine.at(1);
    const int query = request->target.indexOf('?');
    request->path = QString::fromUtf8(query < 0 ? request->target : request->target.left(query));
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const int colon = line.indexOf(':');
        if (colon > 0)
            request->headers.append(qMakePair(line.left(colon), line.mid(colon + 1).trimmed()));
    }
    return true;
}

} // namespace

LoopbackHttpServer::LoopbackHttpServer()
{
    m_Context = new QObject;
    m_Context->moveToThread(&m_Thread);
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    if (m_Thread.isRunning()) {
        // The sockets belong to the server thread and must go there.
        QMetaObject::invokeMethod(
            m_Context,
            [this] {
                const QList<QObject *> children = m_Context->children();
                qDeleteAll(children);
                m_Server = nullptr;
            },
            Qt::BlockingQueuedConnection);
        m_Thread.quit();
        m_Thread.wait();
    }
    delete m_Context;
}

bool LoopbackHttpServer::start()
{
    if (!m_Thread.isRunning())
        m_Thread.start();
    bool listening = false;
    QMetaObject::invokeMethod(
        m_Context,
        [this, &listening] {
            if (!m_Server) {
                m_Server = new QTcpServer(m_Context);
                QObject::connect(m_Server, &QTcpServer::newConnection, m_Context,
                                 [this] { onNewConnection(); });
            }
            listening = m_Server->isListening() || m_Server->listen(QHostAddress::LocalHost, 0);
            m_Port = m_Server->serverPort();
        },
        Qt::BlockingQueuedConnection);
    return listening;
}

QUrl LoopbackHttpServer::url(const QString &path) const
{
    return QUrl(QString("http://127.0.0.1:%1%2").arg(m_Port).arg(path));
}

void LoopbackHttpServer::setResponse(const QString &path, const Response &response)
{
    QMutexLocker locker(&m_Mutex);
    m_Responses.insert(path, response);
}

void LoopbackHttpServer::setPrefixResponse(const QString &prefix, const Response &response)
{
    QMutexLocker locker(&m_Mutex);
    m_PrefixResponses.append(qMakePair(prefix, response));
}

void LoopbackHttpServer::enqueueResponse(const QString &path, const Response &response)
{
    QMutexLocker locker(&m_Mutex);
    m_Queued[path].append(response);
}

void LoopbackHttpServer::serveBody(const QString &path, const QByteArray &body,
                                   const QByteArray &contentType)
{
    Response response;
    response.body = body;
    response.headers.append(qMakePair(QByteArray("Content-Type"), contentType));
    setResponse(path, response);
}

void LoopbackHttpServer::serveFile(const QString &path, const QString &filePath)
{
    Response response;
    response.filePath = filePath;
    setResponse(path, response);
}

void LoopbackHttpServer::serveDirectory(const QString &prefix, const QString &dir)
{
    Response response;
    response.filePath = QDir(dir).absolutePath() + "/";
    setPrefixResponse(prefix.endsWith('/') ? prefix : prefix + "/", response);
}

void LoopbackHttpServer::serveStatus(const QString &path, int status, const QByteArray &body)
{
    Response response;
    response.status = status;
    response.body = body;
    setResponse(path, response);
}

void LoopbackHttpServer::serveRedirect(const QString &path, const QString &location, int status)
{
    Response response;
    response.status = status;
    response.headers.append(qMakePair(QByteArray("Location"), location.toUtf8()));
    setResponse(path, response);
}

void LoopbackHttpServer::serveGarbage(const QString &path, const QByteArray &bytes)
{
    Response response;
    response.fault = Fault::Garbage;
    response.body = bytes;
    setResponse(path, response);
}

void LoopbackHttpServer::serveTruncated(const QString &path, const QByteArray &body,
                                        qint64 sentBytes)
{
    Response response;
    response.fault = Fault::TruncatedBody;
    response.body = body;
    response.truncateAt = sentBytes;
    setResponse(path, response);
}

void LoopbackHttpServer::serveStall(const QString &path)
{
    Response response;
    response.fault = Fault::Stall;
    setResponse(path, response);
}

void LoopbackHttpServer::clear()
{
    QMutexLocker locker(&m_Mutex);
    m_Responses.clear();
    m_PrefixResponses.clear();
    m_Queued.clear();
    m_Requests.clear();
}

QList<LoopbackHttpServer::Request> LoopbackHttpServer::requests() const
{
    QMutexLocker locker(&m_Mutex);
    return m_Requests;
}

int LoopbackHttpServer::requestCount(const QString &path) const
{
    QMutexLocker locker(&m_Mutex);
    int count = 0;
    for (const Request &request : m_Requests)
        count += request.path == path ? 1 : 0;
    return count;
}

LoopbackHttpServer::Response LoopbackHttpServer::responseFor(const Request &request)
{
    QMutexLocker locker(&m_Mutex);
    m_Requests.append(request);
    auto queued = m_Queued.find(request.path);
    if (queued != m_Queued.end() && !queued->isEmpty())
        return queued->takeFirst();
    const auto steady = m_Responses.constFind(request.path);
    if (steady != m_Responses.constEnd())
        return *steady;
    for (const auto &prefixed : m_PrefixResponses) {
        if (!request.path.startsWith(prefixed.first))
            continue;
        Response response = prefixed.second;
        if (!response.filePath.isEmpty()) {
            const QString rest = QDir::cleanPath(request.path.mid(prefixed.first.size()));
            // Nothing outside the served directory.
            if (rest.isEmpty() || rest.startsWith("..") || rest.startsWith('/'))
                break;
            response.filePath += rest;
        }
        return response;
    }
    Response notFound;
    notFound.status = 404;
    return notFound;
}

void LoopbackHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_Server->nextPendingConnection()) {
        QObject::connect(socket, &QTcpSocket::readyRead, m_Context,
                         [this, socket] { onReadyRead(socket); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void LoopbackHttpServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray buffer = socket->property(BufferProperty).toByteArray() + socket->readAll();
    const int end = buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        if (buffer.size() > MaxRequestHeaderSize)
            socket->abort();
        else
            socket->setProperty(BufferProperty, buffer);
        return;
    }
    // One request per connection: later bytes are not looked at.
    QObject::disconnect(socket, &QTcpSocket::readyRead, m_Context, nullptr);
    Request request;
    if (!parseRequestHead(buffer.left(end), &request)) {
        socket->abort();
        return;
    }
    answer(socket, request);
}

void LoopbackHttpServer::answer(QTcpSocket *socket, const Request &request)
{
    Response response = responseFor(request);
    switch (response.fault) {
    case Fault::CloseWithoutAnswer:
        socket->abort();
        return;
    case Fault::Stall:
        return;
    case Fault::Garbage:
        socket->write(response.body);
        socket->disconnectFromHost();
        return;
    case Fault::None:
    case Fault::TruncatedBody:
        break;
    }

    if (!response.filePath.isEmpty()) {
        QFile file(response.filePath);
        if (file.open(QIODevice::ReadOnly)) {
            response.body = file.readAll();
        } else {
            response.status = 404;
            response.body.clear();
        }
    }

    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                      reasonPhrase(response.status) + "\r\n";
    head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    head += "Connection: close\r\n";
    for (const auto &header : response.headers)
        head += header.first + ": " + header.second + "\r\n";
    head += "\r\n";
    socket->write(head);
    if (request.method != "HEAD") {
        if (response.fault == Fault::TruncatedBody)
            socket->write(response.body.left(int(response.truncateAt)));
        else
            socket->write(response.body);
    }
    socket->disconnectFromHost();
}
