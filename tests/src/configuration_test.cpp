#include "applicationdirlock.h"
#include "configuration.h"
#include "loopbackhttpserver.h"
#include "ov3settings.h"
#include "updatechecker.h"

#include "UpdateMessage.pb.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

const char *const VersionPath = "/ov3-client-2";

struct Served
{
    const char *name;
    int number;
    const char *text;
};

QByteArray versionsAnswer(std::initializer_list<Served> channels)
{
    com::orvane::update::Versions versions;
    versions.set_licenseagreementid(1);
    for (const Served &served : channels) {
        auto *channel = versions.add_channels();
        channel->set_name(served.name);
        channel->set_version_number(served.number);
        channel->set_version_string(served.text);
    }
    const std::string bytes = versions.SerializeAsString();
    return QByteArray(bytes.data(), int(bytes.size()));
}

const QByteArray allChannels = versionsAnswer(
    {{"stable", 5001, "3.1.4"}, {"beta", 5010, "3.1.5-beta"}, {"alpha", 6000, "3.2.0-alpha"}});

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

// A configuration run against a real loopback version server, with its own
// CONFIG directory and the update.ini beside the executable under lock.
class ConfigurationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        registerUpdateVersionsMetaType();
        ASSERT_TRUE(configDir.isValid());
        ASSERT_TRUE(server.start());
        server.serveBody(VersionPath, allChannels);
        qputenv("OV3_VERSION_SERVER_URL", server.url(VersionPath).toEncoded());
        qputenv("OV3_CONFIG_DIR", configDir.path().toUtf8());
        qunsetenv("OV3_FILE_SERVER_URL");
    }

    void TearDown() override
    {
        qunsetenv("OV3_VERSION_SERVER_URL");
        qunsetenv("OV3_CONFIG_DIR");
        qunsetenv("OV3_FILE_SERVER_URL");
    }

    static QStringList commandLine(const QStringList &args)
    {
        return QStringList{"/opt/ov3/update"} + args;
    }

    ApplicationDirLock lock;
    QTemporaryDir configDir;
    LoopbackHttpServer server;
};

// One row per command-line form.
struct CommandLineCase
{
    const char *name;
    QStringList args;
    // Empty when parsing succeeds, else the fatal error's text.
    QString fatal;
    int step;
    QString clientType;
    // 0: the version comes from the version server (stable, 5001, "3.1.4").
    int version;
    QString versionString;
};

void PrintTo(const CommandLineCase &row, std::ostream *out)
{
    *out << row.name;
}

CommandLineCase failing(const char *name, const QStringList &args, const QString &fatal)
{
    return CommandLineCase{name, args, fatal, 0, QString(), 0, QString()};
}

class CommandLine : public ConfigurationTest, public ::testing::WithParamInterface<CommandLineCase>
{
};

TEST_P(CommandLine, SettlesStepTypeAndVersion)
{
    const CommandLineCase &row = GetParam();
    Configuration config;
    QSignalSpy ready(&config, SIGNAL(ready()));
    QSignalSpy fatal(&config, SIGNAL(fatalError(QString)));

    const bool ok = config.parseCommandLineOptions(commandLine(row.args));

    if (!row.fatal.isEmpty()) {
        EXPECT_FALSE(ok);
        ASSERT_EQ(1, fatal.count());
        EXPECT_EQ(row.fatal, fatal.at(0).at(0).toString());
        EXPECT_FALSE(config.m_Ready);
        EXPECT_EQ(0, config.m_Version);
        return;
    }
    ASSERT_TRUE(ok);
    EXPECT_EQ(row.step, config.m_UpdateStep);
    EXPECT_EQ(row.clientType, config.m_ClientType);
    EXPECT_EQ(0, config.m_Channel);

    if (row.version == 0) {
        // Not ready until the server answered.
        EXPECT_FALSE(config.m_Ready);
        ASSERT_TRUE(ready.wait(10000));
        EXPECT_EQ(5001, config.m_Version);
        EXPECT_EQ("3.1.4", config.m_VersionString);
        EXPECT_EQ(1, server.requestCount(VersionPath));
    } else {
        EXPECT_TRUE(config.m_Ready);
        EXPECT_EQ(row.version, config.m_Version);
        EXPECT_EQ(row.versionString, config.m_VersionString);
        EXPECT_EQ(nullptr, config.findChild<UpdateChecker *>()) << "no query expected";
        EXPECT_EQ(0, ready.count());
    }
    EXPECT_TRUE(config.m_Ready);
    EXPECT_EQ(0, fatal.count());
}

const QString Update = "update_linux_amd64";
const QString Client = "client_linux_amd64";

INSTANTIATE_TEST_SUITE_P(
    Forms, CommandLine,
    ::testing::Values(
        CommandLineCase{"None", {}, "", 0, Update, 0, ""},
        CommandLineCase{"OneNonFlag", {"client_x"}, "", 0, Update, 0, ""},
        CommandLineCase{"ThreeNonFlags", {"client_x", "12", "s"}, "", 0, Update, 0, ""},
        CommandLineCase{"TypeAndVersion", {"client_x", "1234"}, "", 0, "client_x", 1234, ""},
        failing("NonNumericVersion", {"client_x", "abc"}, "Invalid version nr (abc)"),
        failing("NegativeVersion", {"client_x", "-5"}, "Invalid version nr (-5)"),
        failing("ZeroVersion", {"client_x", "0"}, "Invalid version nr (0)"),
        // Flags are case-sensitive: this is a client type and a version.
        failing("FlagInOtherCase", {"--NOUSER", "x"}, "Invalid version nr (x)"),
        CommandLineCase{"NoUserAlone", {"--nouser"}, "", 0, Update, 0, ""},
        CommandLineCase{"NoUserOneFurther", {"--nouser", "x"}, "", 0, Update, 0, ""},
        CommandLineCase{
            "NoUserTypeVersion", {"--nouser", "client_x", "77"}, "", 0, "client_x", 77, ""},
        CommandLineCase{"NoUserVersionString",
                        {"--nouser", "client_x", "77", "3.1 beta"},
                        "",
                        0,
                        "client_x",
                        77,
                        "3.1 beta"},
        failing("NoUserNoneMarkerAsVersion", {"--nouser", "client_x", "#"},
                "Invalid version nr (#)"),
        CommandLineCase{"ClientUpdateAlone", {"--clientupdate"}, "", 1, Client, 0, ""},
        CommandLineCase{"ClientUpdateOneFurther", {"--clientupdate", "x"}, "", 1, Client, 0, ""},
        CommandLineCase{"ClientUpdateNoVersionString",
                        {"--clientupdate", Client, "1234", "#"},
                        "",
                        1,
                        Client,
                        1234,
                        ""},
        CommandLineCase{"ClientUpdateBeyondFourth",
                        {"--clientupdate", "client_y", "9", "3.0", "more", "--nouser"},
                        "",
                        1,
                        "client_y",
                        9,
                        "3.0"},
        failing("ClientUpdateBadVersion", {"--clientupdate", Client, "12a", "3.0"},
                "Invalid version nr (12a)"),
        // A flag anywhere but first is an ordinary argument.
        failing("FlagSecond", {"client_x", "--clientupdate"},
                "Invalid version nr (--clientupdate)")),
    [](const ::testing::TestParamInfo<CommandLineCase> &info) {
        return std::string(info.param.name);
    });

// One row per update.ini situation. A null content means no file.
struct ChannelCase
{
    const char *name;
    const char *configIni;
    const char *installIni;
    QStringList args;
    const char *fileServerEnv;
    int channel;
    QString baseUrl;
    int version;
    QString versionString;
    // Whether the version server was asked.
    bool queried;
};

void PrintTo(const ChannelCase &row, std::ostream *out)
{
    *out << row.name;
}

class ChannelSelection : public ConfigurationTest, public ::testing::WithParamInterface<ChannelCase>
{
};

TEST_P(ChannelSelection, PicksChannelServerAndVersion)
{
    const ChannelCase &row = GetParam();
    if (row.configIni)
        writeFile(configDir.path() + "/update.ini", row.configIni);
    if (row.installIni)
        writeFile(ApplicationDirLock::updateIniPath(), row.installIni);
    if (row.fileServerEnv)
        qputenv("OV3_FILE_SERVER_URL", row.fileServerEnv);

    Configuration config;
    QSignalSpy ready(&config, SIGNAL(ready()));
    QSignalSpy fatal(&config, SIGNAL(fatalError(QString)));
    ASSERT_TRUE(config.parseCommandLineOptions(commandLine(row.args)));
    if (row.queried) {
        ASSERT_TRUE(ready.wait(10000));
    }

    EXPECT_TRUE(config.m_Ready);
    EXPECT_EQ(row.channel, config.m_Channel);
    EXPECT_EQ(row.baseUrl, Configuration::fileServerBaseUrl);
    EXPECT_EQ(row.version, config.m_Version);
    EXPECT_EQ(row.versionString, config.m_VersionString);
    EXPECT_EQ(row.queried ? 1 : 0, server.requestCount(VersionPath));
    EXPECT_EQ(0, fatal.count());
}

const QString DefaultServer = OV3_DEFAULT_FILE_SERVER_URL;

INSTANTIATE_TEST_SUITE_P(
    UpdateIni, ChannelSelection,
    ::testing::Values(
        ChannelCase{
            "NoIniAnywhere", nullptr, nullptr, {}, nullptr, 0, DefaultServer, 5001, "3.1.4", true},
        ChannelCase{"FileServerFromEnvironment",
                    nullptr,
                    nullptr,
                    {},
                    "http://127.0.0.1:9/files",
                    0,
                    "http://127.0.0.1:9/files/",
                    5001,
                    "3.1.4",
                    true},
        ChannelCase{"BetaInConfig",
                    "[Channel]\nbeta=true\n",
                    nullptr,
                    {},
                    nullptr,
                    1,
                    DefaultServer,
                    5010,
                    "3.1.5-beta",
                    true},
        ChannelCase{"CapitalBeta",
                    "[Channel]\nbeta=false\nBeta=true\n",
                    nullptr,
                    {},
                    nullptr,
                    1,
                    DefaultServer,
                    5010,
                    "3.1.5-beta",
                    true},
        ChannelCase{"BetaBesideUpdater",
                    nullptr,
                    "[Channel]\nbeta=true\n",
                    {},
                    nullptr,
                    1,
                    DefaultServer,
                    5010,
                    "3.1.5-beta",
                    true},
        ChannelCase{"ConfigWinsEvenWithoutChannelGroup",
                    "[update]\nstreams=2\n",
                    "[Channel]\nbeta=true\n",
                    {},
                    nullptr,
                    0,
                    DefaultServer,
                    5001,
                    "3.1.4",
                    true},
        ChannelCase{"AlphaGetsTrailingSlash",
                    "[Channel]\nalpha=http://alpha.example/images\n",
                    nullptr,
                    {},
                    "http://127.0.0.1:9/files/",
                    2,
                    "http://alpha.example/images/",
                    6000,
                    "3.2.0-alpha",
                    true},
        ChannelCase{"AlphaRevisionWinsOverCommandLine",
                    "[Channel]\nalpha=http://alpha.example/images/\nalphaRevno=777\n",
                    nullptr,
                    {"client_x", "1234"},
                    nullptr,
                    2,
                    "http://alpha.example/images/",
                    777,
                    "",
                    false},
        ChannelCase{"AlphaRevisionZeroAsks",
                    "[Channel]\nalpha=http://a.example/\nalphaRevno=0\n",
                    nullptr,
                    {},
                    nullptr,
                    2,
                    "http://a.example/",
                    6000,
                    "3.2.0-alpha",
                    true},
        ChannelCase{"AlphaRevisionNegativeAsks",
                    "[Channel]\nalpha=http://a.example/\nalphaRevno=-3\n",
                    nullptr,
                    {},
                    nullptr,
                    2,
                    "http://a.example/",
                    6000,
                    "3.2.0-alpha",
                    true},
        ChannelCase{"AlphaRevisionNotANumberAsks",
                    "[Channel]\nalpha=http://a.example/\nalphaRevno=abc\n",
                    nullptr,
                    {},
                    nullptr,
                    2,
                    "http://a.example/",
                    6000,
                    "3.2.0-alpha",
                    true},
        ChannelCase{"JunkIni",
                    "\x01\x02\xff[Channel\nbeta\n=\n",
                    nullptr,
                    {},
                    nullptr,
                    0,
                    DefaultServer,
                    5001,
                    "3.1.4",
                    true}),
    [](const ::testing::TestParamInfo<ChannelCase> &info) { return std::string(info.param.name); });

// Answers that do not yield a version for the channel: a fatal error, never
// ready.
TEST_F(ConfigurationTest, UnusableAnswersAreFatal)
{
    const struct
    {
        const char *name;
        QByteArray answer;
        QString fatal;
    } rows[] = {
        {"channel missing", versionsAnswer({{"beta", 5010, "3.1.5-beta"}}),
         "Update server returned no version"},
        {"negative number", versionsAnswer({{"stable", -5, "x"}}),
         "Update server returned invalid version nr (-5)"},
        {"zero", versionsAnswer({{"stable", 0, "x"}}),
         "Update server returned invalid version nr (0)"},
    };
    for (const auto &row : rows) {
        server.serveBody(VersionPath, row.answer);
        Configuration config;
        QSignalSpy ready(&config, SIGNAL(ready()));
        QSignalSpy fatal(&config, SIGNAL(fatalError(QString)));
        ASSERT_TRUE(config.parseCommandLineOptions(commandLine({})));
        ASSERT_TRUE(fatal.wait(10000)) << row.name;
        EXPECT_EQ(row.fatal, fatal.at(0).at(0).toString()) << row.name;
        EXPECT_FALSE(config.m_Ready) << row.name;
        EXPECT_EQ(0, config.m_Version) << row.name;
        EXPECT_EQ(0, ready.count()) << row.name;
    }
}

// A failed query is no fatal error: the configuration shows its own box and
// quits the application.
TEST_F(ConfigurationTest, FailedQueryShowsItsBoxAndQuits)
{
    server.serveStatus(VersionPath, 404);
    Configuration config;
    QSignalSpy ready(&config, SIGNAL(ready()));
    QSignalSpy fatal(&config, SIGNAL(fatalError(QString)));
    ASSERT_TRUE(config.parseCommandLineOptions(commandLine({})));

    QString title;
    QString text;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            box->done(QMessageBox::Abort);
        }
    });
    closer.start(20);
    // quit() ends the application's loop with 0; 7 means it never came.
    QTimer::singleShot(10000, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(0, QCoreApplication::exec());

    EXPECT_EQ("Error", title);
    EXPECT_EQ("Failed to query latest client\nversion from update server.", text);
    EXPECT_FALSE(config.m_Ready);
    EXPECT_EQ(0, ready.count());
    EXPECT_EQ(0, fatal.count());
}

TEST_F(ConfigurationTest, ConfigDirFromEnvironmentOrHome)
{
    qputenv("OV3_CONFIG_DIR", "/x/y");
    EXPECT_EQ("/x/y/", Configuration::configDir());
    qputenv("OV3_CONFIG_DIR", "/x/y/");
    EXPECT_EQ("/x/y/", Configuration::configDir());

    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", configDir.path().toUtf8());
    qputenv("OV3_CONFIG_DIR", "");
    EXPECT_EQ(configDir.path() + "/.ov3client/", Configuration::configDir());
    qunsetenv("OV3_CONFIG_DIR");
    EXPECT_EQ(configDir.path() + "/.ov3client/", Configuration::configDir());
    qputenv("HOME", home);
}

TEST_F(ConfigurationTest, SessionDirectories)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", tmp.path().toUtf8());
    for (int n = 0; n < 5; ++n)
        ASSERT_TRUE(QDir().mkpath(tmp.path() + "/orvane_temp_" + QString::number(n)));

    Configuration config;
    QSignalSpy fatal(&config, SIGNAL(fatalError(QString)));
    ASSERT_TRUE(config.initalizeStart(QString(), QString()));
    EXPECT_EQ(tmp.path() + "/orvane_temp_5", config.m_TempDir);
    EXPECT_TRUE(QDir(config.m_TempDir).exists());
    EXPECT_EQ(QCoreApplication::applicationDirPath(), config.m_InstallDir);

    // A session being continued keeps its directories.
    ASSERT_TRUE(config.initalizeStart("/tmp/orvane_temp_42", "/opt/ov3"));
    EXPECT_EQ("/tmp/orvane_temp_42", config.m_TempDir);
    EXPECT_EQ("/opt/ov3", config.m_InstallDir);
    EXPECT_EQ(0, fatal.count());

    // Under a plain file no directory can be made, not even by root.
    writeFile(tmp.path() + "/plain", "x");
    qputenv("TMPDIR", (tmp.path() + "/plain").toUtf8());
    Configuration failing;
    QSignalSpy failed(&failing, SIGNAL(fatalError(QString)));
    EXPECT_FALSE(failing.initalizeStart(QString(), "/opt/ov3"));
    ASSERT_EQ(1, failed.count());
    EXPECT_EQ("Unable to create temp directory.", failed.at(0).at(0).toString());
    EXPECT_TRUE(failing.m_TempDir.isEmpty());
    EXPECT_TRUE(failing.m_InstallDir.isEmpty());

    qputenv("TMPDIR", oldTmp);
}

TEST_F(ConfigurationTest, UpdateSettingsBesideTheUpdater)
{
    const struct
    {
        const char *ini;
        QString proxy;
        int streams;
    } rows[] = {
        {nullptr, "", 6},
        {"[update]\nproxy=http://proxy.example:3128\nstreams=4\n", "http://proxy.example:3128", 4},
        {"[update]\nstreams=0\n", "", 6},
        {"[update]\nstreams=-3\n", "", 6},
        {"[update]\nstreams=many\n", "", 6},
        {"[Channel]\nstreams=2\n", "", 6},
    };
    for (const auto &row : rows) {
        ApplicationDirLock::removeUpdateIni();
        if (row.ini)
            writeFile(ApplicationDirLock::updateIniPath(), row.ini);
        Configuration config;
        config.readUpdateSettings();
        EXPECT_EQ(row.proxy, config.m_Proxy) << (row.ini ? row.ini : "no file");
        EXPECT_EQ(row.streams, config.m_Streams) << (row.ini ? row.ini : "no file");
    }
}

} // namespace
