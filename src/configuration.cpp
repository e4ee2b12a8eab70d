#include "configuration.h"

#include "ov3settings.h"
#include "updatechecker.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcessEnvironment>
#include <QSettings>
#include <QWidget>

QString Configuration::fileServerBaseUrl;

namespace {

const char *const IniName = "update.ini";
const char *const NoUserFlag = "--nouser";
const char *const ClientUpdateFlag = "--clientupdate";
// In the last position of the command line: no version string.
const char *const NoneArgument = "#";

QString withTrailingSlash(const QString &url)
{
    return url.endsWith("/") ? url : url + "/";
}

QWidget *mainWindowWidget()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == "MainWindow")
            return widget;
    }
    return nullptr;
}

} // namespace

Configuration::Configuration(QObject *parent) : QObject(parent) {}

QString Configuration::configDir()
{
    QString dir = QProcessEnvironment::systemEnvironment().value("OV3_CONFIG_DIR");
    if (dir.isEmpty())
        return QDir::homePath() + "/.ov3client/";
    if (!dir.endsWith(QDir::separator()))
        dir += QDir::separator();
    return dir;
}

QString Configuration::defaultClientType(int updateStep)
{
    return QString(updateStep == 0 ? "update" : "client") + "_linux_amd64";
}

QString Configuration::channelKey(int channel)
{
    switch (channel) {
    case 1:
        return "beta";
    case 2:
        return "alpha";
    default:
        return "stable";
    }
}

QString Configuration::defaultFileServerUrl()
{
    QString url = QProcessEnvironment::systemEnvironment().value("OV3_FILE_SERVER_URL");
    if (url.isEmpty())
        url = OV3_DEFAULT_FILE_SERVER_URL;
    return withTrailingSlash(url);
}

bool Configuration::parseCommandLineOptions()
{
    return parseCommandLineOptions(QCoreApplication::arguments());
}

bool Configuration::parseCommandLineOptions(const QStringList &arguments)
{
    qDebug() << "parseCommandLineOptions" << arguments;
    // Flags count only in the first position, compared case-sensitively.
    const int count = arguments.size() - 1;
    const QString first = count > 0 ? arguments.at(1) : QString();
    m_UpdateStep = first == ClientUpdateFlag ? 1 : 0;
    m_QueryStarted = false;

    getUpdateChannel();

    if (first == NoUserFlag || first == ClientUpdateFlag) {
        qDebug() << "CLIENTUPDATE" << (first == ClientUpdateFlag ? "true" : "false");
        if (count >= 3 && !readClientParameters(arguments, 2))
            return false;
        if (count >= 4 && arguments.at(4) != NoneArgument)
            m_VersionString = arguments.at(4);
        getDefaultParameters();
    } else if (count == 2) {
        if (!readClientParameters(arguments, 1))
            return false;
    } else {
        qDebug() << "Empty cmdline params";
        getDefaultParameters();
    }

    if (!m_QueryStarted)
        m_Ready = true;
    return true;
}

bool Configuration::readClientParameters(const QStringList &args, int index)
{
    m_ClientType = args.at(index);
    return parseVersion(args.at(index + 1), QObject::tr("Invalid version nr (%1)"));
}

bool Configuration::parseVersion(const QString &text, const QString &errorFormat)
{
    // A version fixed earlier (the alpha channel's revision) wins.
    if (m_Version != 0)
        return true;
    bool ok = false;
    const int version = text.toInt(&ok, 10);
    // 0 stands for "no version yet" and no release has a negative number, so
    // neither can be a target.
    if (ok && version > 0) {
        m_Version = version;
        return true;
    }
    emit fatalError(errorFormat.arg(text));
    return false;
}

bool Configuration::getDefaultParameters()
{
    qDebug() << "getDefaultParameters" << m_ClientType;
    if (m_ClientType.isEmpty())
        m_ClientType = defaultClientType(m_UpdateStep);
    qDebug() << "clientType" << m_ClientType;
    if (m_Version != 0)
        return true;

    UpdateChecker *checker = new UpdateChecker(this);
    connect(checker, SIGNAL(update_available(UpdateVersions)), this,
            SLOT(on_updateAvailable(UpdateVersions)));
    m_QueryStarted = true;
    checker->checkForUpdate();
    return true;
}

void Configuration::getUpdateChannel()
{
    qDebug() << "Searching update.ini";
    QString iniPath = configDir() + IniName;
    bool found = QFile::exists(iniPath);
    qDebug() << "Update ini check #1 in CONFIG" << iniPath << (found ? "true" : "false");
    if (found) {
        qDebug() << "Found CONFIG/update.ini";
    } else {
        iniPath = QCoreApplication::applicationDirPath() + "/" + IniName;
        found = QFile::exists(iniPath);
        qDebug() << "Update ini check #2 in INSTALL" << iniPath << (found ? "true" : "false");
        if (found)
            qDebug() << "Found INSTALL/update.ini";
    }

    if (!found) {
        m_Channel = 0;
        m_Version = 0;
        fileServerBaseUrl = defaultFileServerUrl();
        qDebug() << "No update.ini found, using stable channel, URL =" << fileServerBaseUrl;
        return;
    }

    QSettings settings(iniPath, QSettings::IniFormat);
    settings.beginGroup("Channel");
    const QString alpha = settings.value("alpha", QString()).toString();
    bool beta = settings.value("beta", false).toBool();
    if (!beta)
        beta = settings.value("Beta", false).toBool();

    if (!alpha.isEmpty()) {
        m_Channel = 2;
        m_Version = settings.value("alphaRevno", 0).toInt();
        if (m_Version < 0) {
            // Not a release; asking the version server is the sane fallback.
            qDebug() << "Ignoring negative alphaRevno" << m_Version;
            m_Version = 0;
        }
        fileServerBaseUrl = withTrailingSlash(alpha);
        qDebug() << "Alpha channel detected, URL =" << fileServerBaseUrl;
    } else {
        m_Channel = beta ? 1 : 0;
        m_Version = 0;
        fileServerBaseUrl = defaultFileServerUrl();
        qDebug() << (beta ? "Beta" : "Stable") << "channel detected, URL =" << fileServerBaseUrl;
    }
    settings.endGroup();
}

void Configuration::on_updateAvailable(UpdateVersions versions)
{
    if (versions.isEmpty()) {
        QMessageBox::critical(
            mainWindowWidget(), QObject::tr("Error"),
            QObject::tr("Failed to query latest client\nversion from update server."),
            QMessageBox::Abort);
        QCoreApplication::quit();
        return;
    }

    const QPair<QString, QString> entry = versions.value(channelKey(m_Channel));
    qDebug() << "Received version from remote server:" << entry;
    if (entry.first.isEmpty()) {
        emit fatalError(QObject::tr("Update server returned no version"));
        return;
    }
    if (parseVersion(entry.first, QObject::tr("Update server returned invalid version nr (%1)"))) {
        m_VersionString = entry.second;
        m_Ready = true;
        emit ready();
    }
}

bool Configuration::createTempDir()
{
    QString base = QDir::tempPath();
    if (base.isEmpty()) {
        qDebug() << "*Error* Unable to get temp directory";
        emit fatalError("Unable to get temp directory.");
        return false;
    }
    base = withTrailingSlash(base) + "orvane_temp_";

    for (int n = 0; n < 1000; ++n) {
        const QString candidate = base + QString::number(n);
        if (QDir(candidate).exists())
            continue;
        if (QDir().mkpath(candidate)) {
            m_TempDir = candidate;
            return true;
        }
    }
    qDebug() << "*Error* Unable to create temp directory";
    emit fatalError("Unable to create temp directory.");
    return false;
}

bool Configuration::initalizeStart(const QString &tempDir, const QString &installDir)
{
    qDebug() << "initalizeStart" << tempDir << installDir;
    if (!tempDir.isEmpty())
        m_TempDir = tempDir;
    else if (!createTempDir())
        return false;
    m_InstallDir = installDir.isEmpty() ? QCoreApplication::applicationDirPath() : installDir;
    return true;
}

void Configuration::readUpdateSettings()
{
    QSettings settings(QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(IniName),
                       QSettings::IniFormat);
    settings.beginGroup("update");
    m_Proxy = settings.value("proxy", QString()).toString();
    m_Streams = settings.value("streams", 6).toInt();
    if (m_Streams <= 0)
        m_Streams = 6;
    settings.endGroup();
}
