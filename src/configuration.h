#pragma once

#include "protobufhelper.h"

#include <QObject>
#include <QString>
#include <QStringList>

// The parameters of one updater run: the step of the two-step update, the
// channel, the client type, the target version, the session's directories and
// the network settings. They come from the command line, the update.ini files
// and, when the command line names no version, from the version server.
class Configuration : public QObject
{
    Q_OBJECT

public:
    explicit Configuration(QObject *parent = nullptr);

    // Reads QCoreApplication::arguments(). False when the command line cannot
    // be used; the reason has then been emitted as fatalError.
    bool parseCommandLineOptions();
    // The same for an explicit argument list whose first element is the
    // program path.
    bool parseCommandLineOptions(const QStringList &arguments);

    // Settles the session directories when an update session starts: tempDir
    // continues a session, an empty one creates a new session directory; an
    // empty installDir means the updater's own directory.
    bool initalizeStart(const QString &tempDir, const QString &installDir);
    // Reads the proxy and the number of parallel downloads from the update.ini
    // beside the updater.
    void readUpdateSettings();

    // OV3_CONFIG_DIR, else ~/.ov3client/; always ending in a separator.
    static QString configDir();
    // "update_linux_amd64" for step one, "client_linux_amd64" for step two.
    static QString defaultClientType(int updateStep);
    // The key of a channel in the version server's answer.
    static QString channelKey(int channel);
    // The file server of the stable and beta channels: OV3_FILE_SERVER_URL,
    // else the compiled-in one; always ending in "/".
    static QString defaultFileServerUrl();

    // Base URL of the chosen channel's file server, ending in "/". Download
    // URLs are this, the decimal target version, "/" and the relative path.
    static QString fileServerBaseUrl;

    bool m_Ready = false;
    int m_UpdateStep = 0;
    int m_Channel = 0;
    QString m_ClientType;
    int m_Version = 0;
    QString m_VersionString;
    QString m_TempDir;
    QString m_InstallDir;
    QString m_Proxy;
    int m_Streams = 0;

signals:
    // The parameters became complete after the version query answered.
    void ready();
    // The run cannot continue.
    void fatalError(QString errorMessage);
    // Forwarded by the update engine; the configuration does not emit it.
    void message(QString message);

private slots:
    void on_updateAvailable(UpdateVersions versions);

private:
    void getUpdateChannel();
    bool getDefaultParameters();
    bool readClientParameters(const QStringList &args, int index);
    bool parseVersion(const QString &text, const QString &errorFormat);
    bool createTempDir();

    // Set by getDefaultParameters when it started a version query.
    bool m_QueryStarted = false;
};
