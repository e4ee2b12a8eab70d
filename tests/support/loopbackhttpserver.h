#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QThread>
#include <QUrl>

class QObject;
class QTcpServer;
class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 and a free port, for tests that need a
// real server on the other side of a real socket. It runs on a thread of its
// own, so it keeps answering while the test thread blocks (a child process,
// a blocking wait). Every answer closes its connection.
//
// Paths are answered from their responses: a steady response per path or
// per path prefix, optionally preceded by one-shot responses (to fail the
// first attempts); an unknown path gets 404. Fault modes send what no
// well-behaved server would.
class LoopbackHttpServer
{
public:
    enum class Fault
    {
        None,
        // The body bytes as they are, with no status line or headers.
        Garbage,
        // The connection is closed as soon as the request arrived.
        CloseWithoutAnswer,
        // Headers announce the whole body; only truncateAt bytes follow, then
        // the connection closes.
        TruncatedBody,
        // The request is read and never answered; the connection stays open
        // until the server stops.
        Stall,
    };

    struct Response
    {
        int status = 200;
        QByteArray body;
        // When set, the body is read from this file at request time (404 if
        // it cannot be read).
        QString filePath;
        QList<QPair<QByteArray, QByteArray>> headers;
        Fault fault = Fault::None;
        qint64 truncateAt = 0;
    };

    struct Request
    {
        QByteArray method;
        // The request target's path, without a query.
        QString path;
        QByteArray target;
        QList<QPair<QByteArray, QByteArray>> headers;
    };

    LoopbackHttpServer();
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer &) = delete;
    LoopbackHttpServer &operator=(const LoopbackHttpServer &) = delete;

    // Listens on 127.0.0.1 and a port the system picks.
    bool start();
    quint16 port() const { return m_Port; }
    // http://127.0.0.1:PORT followed by path.
    QUrl url(const QString &path) const;

    void setResponse(const QString &path, const Response &response);
    // Answers every path below prefix ("/files/") from the same response;
    // with a filePath, the file is filePath + the rest of the request path.
    void setPrefixResponse(const QString &prefix, const Response &response);
    // Answered once, in order, before the path's steady response.
    void enqueueResponse(const QString &path, const Response &response);

    void serveBody(const QString &path, const QByteArray &body,
                   const QByteArray &contentType = "application/octet-stream");
    void serveFile(const QString &path, const QString &filePath);
    // Every file below dir at prefix + its relative path.
    void serveDirectory(const QString &prefix, const QString &dir);
    void serveStatus(const QString &path, int status, const QByteArray &body = QByteArray());
    void serveRedirect(const QString &path, const QString &location, int status = 302);
    void serveGarbage(const QString &path, const QByteArray &bytes);
    void serveTruncated(const QString &path, const QByteArray &body, qint64 sentBytes);
    void serveStall(const QString &path);
    // Forgets every response and every recorded request.
    void clear();

    QList<Request> requests() const;
    int requestCount(const QString &path) const;

private:
    Response responseFor(const Request &request);
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Request &request);

    QThread m_Thread;
    // Lives on m_Thread; parent of the listening socket and the connections.
    QObject *m_Context = nullptr;
    QTcpServer *m_Server = nullptr;
    quint16 m_Port = 0;

    mutable QMutex m_Mutex;
    QHash<QString, Response> m_Responses;
    QList<QPair<QString, Response>> m_PrefixResponses;
    QHash<QString, QList<Response>> m_Queued;
    QList<Request> m_Requests;
};
