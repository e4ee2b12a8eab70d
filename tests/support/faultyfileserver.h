#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;

// A file server on 127.0.0.1 for download tests. It serves the files below a
// root directory under the path "/updater-images/client/" and can be told to
// misbehave on the next requests for a file: answer 404, 302 or 500, cut the
// body short, reset the connection or stall in the middle of the body. The
// faults of a file are used up one per request; afterwards it is served
// normally. It runs on the calling thread's event loop and stops with the
// object.
class FaultyFileServer : public QObject
{
    Q_OBJECT
public:
    enum Fault
    {
        Serve,       // 200 and the whole file
        NotFound,    // 404
        Redirect,    // 302 back to the same URL
        ServerError, // 500
        CutShort,    // 200 with the full Content-Length, half the body, close
        Reset,       // 200, half the body, then a TCP reset
        Stall        // 200, half the body, then silence with the connection open
    };

    explicit FaultyFileServer(const QString &rootDir, QObject *parent = nullptr);
    ~FaultyFileServer() override;

    bool listen();
    // Ends in "/"; a file "v/a.bin" below the root is baseUrl() + "v/a.bin".
    QString baseUrl() const;

    // Faults for the next requests of path (relative to the root).
    void setFaults(const QString &path, const QList<Fault> &faults);
    // A fault for every request of path.
    void setPermanentFault(const QString &path, Fault fault);

    // Paths requested so far, in order of arrival.
    QStringList requests() const { return m_Requests; }
    int requestCount(const QString &path) const { return m_Requests.count(path); }
    // Connections that are stalled and still open.
    int stalledConnections() const;

signals:
    void requested(const QString &path);

private slots:
    void onNewConnection();

private:
    void handleRequest(QTcpSocket *socket);
    Fault nextFault(const QString &path);
    void respond(QTcpSocket *socket, const QString &path, Fault fault);

    QTcpServer m_Server;
    QString m_Root;
    QHash<QString, QList<Fault>> m_Faults;
    QHash<QString, Fault> m_PermanentFaults;
    QStringList m_Requests;
    QList<QTcpSocket *> m_Stalled;
};
