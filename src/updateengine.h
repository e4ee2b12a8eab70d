#pragma once

#include <QObject>
#include <QString>

class Configuration;
class MainTaskSpecification;
class QNetworkAccessManager;
class QTimer;

// Runs one update session for the main window: continues or cleans away an
// interrupted session, records the session in update.ini, runs the root task
// and relays its progress, messages and outcome. It also owns the network
// access manager (with the proxy from update.ini) that every download uses.
class UpdateEngine : public QObject
{
    Q_OBJECT

public:
    enum State
    {
        PRE_INIT = 0,
        POST_INIT = 1,
        RUNNING = 2,
        FINISHED = 3,
        CANCELED = 4
    };

    UpdateEngine(Configuration *configuration, QObject *parent);

    bool initialize();
    bool startUpdate();
    bool isActive() const { return m_State == POST_INIT || m_State == RUNNING; }
    void resetAfterCancel();
    int state() const { return m_State; }
    QNetworkAccessManager *networkAccessManager() const { return m_NetworkManager; }

    // A fatal error found while the engine was constructed, before anyone
    // could listen to fatalError; empty when there is none. The window
    // reports it once it has connected.
    QString pendingFatalError() const { return m_PendingFatalError; }

    // Removes the "_old_"-prefixed leftovers of earlier updaters in dir.
    static void removeOldFiles(const QString &dir);
    // Removes the Qt 4 libraries that old updaters shipped in dir.
    static void removeQt4Files(const QString &dir);
    // Empties dir recursively; symbolic links are neither followed nor
    // removed, and failures are ignored.
    static void removeDirectoryContents(const QString &dir);

signals:
    void fatalError(QString errorMessage);
    void error(QString errorMessage);
    void updateProgress(double doneFrac);
    void downloadProgress(qulonglong downloadDone, qulonglong downloadTotal, qulonglong speed,
                          bool downloading);
    void message(QString message);
    void updateFinished();
    void updateCanceled();

public slots:
    void cancelUpdate();

private slots:
    void onTimer();
    void onTaskFinished();
    void onTaskCanceled();

private:
    void cleanup();
    void applyProxy();

    int m_State;
    Configuration *m_Config;
    MainTaskSpecification *m_RootTask;
    QTimer *m_Timer;
    QNetworkAccessManager *m_NetworkManager;
    QString m_PendingFatalError;
};
