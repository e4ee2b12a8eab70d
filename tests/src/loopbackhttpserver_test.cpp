// The loopback server is what every network test stands on, so its own fault
// modes and its directory serving are checked with a raw socket.
#include "loopbackhttpserver.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Sends one request and returns every byte until the server closed.
QByteArray exchange(quint16 port, const QByteArray &request, int waitMs = 5000)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return "no connection";
    socket.write(request);
    socket.waitForBytesWritten(5000);
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(waitMs))
        answer += socket.readAll();
    return answer + socket.readAll();
}

QByteArray get(quint16 port, const QByteArray &path, const QByteArray &method = "GET")
{
    return exchange(port, method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

TEST(LoopbackHttpServer, AnswersAndFaultsAsConfigured)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QDir().mkpath(dir.filePath("files/sub"));
    QFile file(dir.filePath("files/sub/a.bin"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("file bytes");
    file.close();
    QFile secret(dir.filePath("secret"));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("outside");
    secret.close();

    LoopbackHttpServer server;
    ASSERT_TRUE(server.start());
    const quint16 port = server.port();
    server.serveBody("/body", "hello");
    server.serveDirectory("/img/", dir.filePath("files"));
    server.serveRedirect("/moved", "/body", 307);
    server.serveGarbage("/junk", "\x01\x02no http");
    server.serveTruncated("/cut", "0123456789", 4);
    LoopbackHttpServer::Response failing;
    failing.status = 503;
    server.enqueueResponse("/body", failing);

    const struct
    {
        QByteArray request;
        QByteArray method;
        QByteArray start;
        QByteArray end;
    } rows[] = {
        // The one-shot answer comes first, then the steady one.
        {"/body", "GET", "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n", "\r\n\r\n"},
        {"/body?x=1", "GET", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", "\r\n\r\nhello"},
        {"/body", "HEAD", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", "\r\n\r\n"},
        {"/img/sub/a.bin", "GET", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n",
         "\r\n\r\nfile bytes"},
        {"/img/../secret", "GET", "HTTP/1.1 404 Not Found\r\n", "\r\n\r\n"},
        {"/img/sub/../../secret", "GET", "HTTP/1.1 404 Not Found\r\n", "\r\n\r\n"},
        {"/img/missing", "GET", "HTTP/1.1 404 Not Found\r\n", "\r\n\r\n"},
        {"/moved", "GET", "HTTP/1.1 307 Temporary Redirect\r\n", "\r\nLocation: /body\r\n\r\n"},
        {"/junk", "GET", "\x01\x02no http", "\x01\x02no http"},
        {"/cut", "GET", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n", "\r\n\r\n0123"},
    };
    for (const auto &row : rows) {
        const QByteArray answer = get(port, row.request, row.method);
        EXPECT_TRUE(answer.startsWith(row.start) && answer.endsWith(row.end))
            << row.method.constData() << " " << row.request.constData() << ": "
            << answer.constData();
    }
    EXPECT_EQ(3, server.requestCount("/body"));
    EXPECT_EQ("x=1", server.requests().at(1).target.mid(6));

    // A stalled request stays unanswered until the server goes away.
    server.serveStall("/stall");
    EXPECT_TRUE(exchange(port, "GET /stall HTTP/1.1\r\n\r\n", 300).isEmpty());
    LoopbackHttpServer::Response closing;
    closing.fault = LoopbackHttpServer::Fault::CloseWithoutAnswer;
    server.setResponse("/close", closing);
    EXPECT_TRUE(get(port, "/close").isEmpty());
}

} // namespace
