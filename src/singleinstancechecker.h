#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// One updater per executable path and user: a starting updater knocks at the
// running one over a local socket, and the running one raises its window.
class SingleInstanceChecker : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstanceChecker(QObject *parent = nullptr);
    // Listens under an explicit name; the updater itself uses serverName().
    SingleInstanceChecker(const QString &name, QObject *parent);
    ~SingleInstanceChecker() override;

    // "OV3ClientUpdate" and the hex CRC-16 (X.25) of the lower-case executable
    // path followed by the home directory, with every "/" and ":" removed.
    static QString serverName();
    static QString serverName(const QString &executablePath, const QString &homePath);

    // Knocks at a running instance; true if it was reached and the message was
    // delivered. Blocks for at most about two seconds.
    static bool notifyRunningInstance(const QString &message);
    static bool notifyRunningInstance(const QString &name, const QString &message);

    bool isListening() const;

signals:
    void otherInstanceActivate(QString message);

private slots:
    void onNewConnection();
    void onReadyRead();

private:
    void listen(const QString &name);

    QLocalServer *m_Server = nullptr;
    QLocalSocket *m_CurrentConnection = nullptr;
};
