// The update engine in-process: proxy, session continuation and clean-away,
// cancel and the directory clean-up. update.ini lives beside the test
// executable, so every test that touches it holds the ApplicationDirLock.
#include "applicationdirlock.h"
#include "configuration.h"
#include "loopbackhttpserver.h"
#include "plantesthelpers.h"
#include "updateengine.h"
#include "updateinidata.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <unistd.h>

namespace {

void writeProxy(const QString &proxy)
{
    QSettings settings(ApplicationDirLock::updateIniPath(), QSettings::IniFormat);
    settings.setValue("update/proxy", proxy);
    settings.sync();
}

QStringList texts(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out << args.at(0).toString();
    return out;
}

// A step-two configuration for version 7 whose session directories are made
// below a private temporary directory.
struct SessionFixture : ::testing::Test
{
    void SetUp() override
    {
        ASSERT_TRUE(m_Tmp.isValid());
        qputenv("TMPDIR", m_Tmp.path().toUtf8());
        m_Config.m_UpdateStep = 1;
        m_Config.m_Version = 7;
        m_Config.m_ClientType = "client_linux_amd64";
        m_Config.m_Ready = true;
    }
    void TearDown() override { qunsetenv("TMPDIR"); }

    QStringList sessionDirs() const
    {
        return QDir(m_Tmp.path()).entryList({"orvane_temp_*"}, QDir::Dirs);
    }

    ApplicationDirLock m_Lock;
    QTemporaryDir m_Tmp;
    Configuration m_Config;
};

} // namespace

TEST(UpdateEngineProxy, ProxyFromUpdateIni)
{
    struct Case
    {
        const char *proxy;
        QNetworkProxy::ProxyType type;
        const char *host;
        quint16 port;
        bool valid;
    };
    const Case cases[] = {
        {"", QNetworkProxy::NoProxy, "", 0, true},
        {"http://proxy.example", QNetworkProxy::HttpProxy, "proxy.example", 3128, true},
        {"http://user:pw@proxy.example:8080", QNetworkProxy::HttpProxy, "proxy.example", 8080,
         true},
        {"http://[::1", QNetworkProxy::DefaultProxy, "", 0, false},
        {"proxy.example:8080", QNetworkProxy::DefaultProxy, "", 0, false},
    };
    for (const Case &c : cases) {
        ApplicationDirLock lock;
        writeProxy(c.proxy);
        Configuration config;
        UpdateEngine engine(&config, nullptr);
        const QNetworkProxy proxy = engine.networkAccessManager()->proxy();
        SCOPED_TRACE(c.proxy);
        if (c.valid) {
            EXPECT_TRUE(engine.pendingFatalError().isEmpty());
            EXPECT_EQ(proxy.type(), c.type);
            if (c.type == QNetworkProxy::HttpProxy) {
                EXPECT_EQ(proxy.hostName(), QString(c.host));
                EXPECT_EQ(proxy.port(), c.port);
                EXPECT_TRUE(proxy.user().isEmpty());
            }
        } else {
            EXPECT_EQ(engine.pendingFatalError(),
                      QString("'%1' is an invalid proxy specification").arg(c.proxy));
            EXPECT_EQ(proxy.type(), QNetworkProxy::DefaultProxy);
            // No session may start through a proxy other than the configured one.
            config.m_Ready = true;
            EXPECT_FALSE(engine.initialize());
            EXPECT_EQ(engine.state(), UpdateEngine::PRE_INIT);
        }
    }
}

TEST_F(SessionFixture, SameVersionContinuesTheRecordedSession)
{
    const QString old = m_Tmp.filePath("orvane_temp_42");
    ASSERT_TRUE(QDir().mkpath(old));
    ASSERT_TRUE(plantest::writeFile(old + "/done.bin", "finished download"));
    ASSERT_TRUE(UpdateIniData::modify(7, old, "/opt/ov3", "client_linux_amd64"));

    UpdateEngine engine(&m_Config, nullptr);
    QSignalSpy messages(&engine, SIGNAL(message(QString)));
    ASSERT_TRUE(engine.initialize());
    EXPECT_EQ(engine.state(), UpdateEngine::POST_INIT);
    EXPECT_TRUE(engine.isActive());
    EXPECT_TRUE(texts(messages).contains("Previous update session for v. 7 found"));
    EXPECT_EQ(m_Config.m_TempDir, old);
    EXPECT_EQ(sessionDirs(), QStringList{"orvane_temp_42"});
    EXPECT_TRUE(QFile::exists(old + "/done.bin"));
}

TEST_F(SessionFixture, OtherVersionCleansTheOldSessionAway)
{
    const QString old = m_Tmp.filePath("orvane_temp_42");
    ASSERT_TRUE(plantest::writeFile(old + "/sub/deep/file.bin", "x"));
    ASSERT_TRUE(plantest::writeFile(old + "/.hidden", "x"));
    ASSERT_TRUE(UpdateIniData::modify(6, old, "/opt/ov3", "client_linux_amd64"));

    UpdateEngine engine(&m_Config, nullptr);
    QSignalSpy messages(&engine, SIGNAL(message(QString)));
    ASSERT_TRUE(engine.initialize());
    const QStringList shown = texts(messages);
    EXPECT_TRUE(shown.contains(QString("Cleanup previous session (v. 6, %1) files...").arg(old)))
        << shown.join('|').toStdString();
    EXPECT_TRUE(shown.contains("Ok"));
    EXPECT_FALSE(QFileInfo::exists(old));
    ASSERT_EQ(sessionDirs().size(), 1);
    EXPECT_NE(m_Config.m_TempDir, old);
    EXPECT_TRUE(m_Config.m_TempDir.contains("orvane_temp_"));

    // The new session is what update.ini records now.
    int version = 0;
    QString dir;
    ASSERT_TRUE(UpdateIniData::get(&version, nullptr, &dir, nullptr));
    EXPECT_EQ(version, 7);
    EXPECT_EQ(dir, m_Config.m_TempDir);
}

TEST_F(SessionFixture, RecordWhoseDirectoryIsGoneCountsAsNoSession)
{
    ASSERT_TRUE(UpdateIniData::modify(7, m_Tmp.filePath("orvane_temp_99"), "/opt/ov3",
                                      "client_linux_amd64"));
    UpdateEngine engine(&m_Config, nullptr);
    QSignalSpy messages(&engine, SIGNAL(message(QString)));
    ASSERT_TRUE(engine.initialize());
    EXPECT_FALSE(texts(messages).join('|').contains("Previous update session"));
    ASSERT_EQ(sessionDirs().size(), 1);
    EXPECT_NE(sessionDirs().first(), "orvane_temp_99");
}

TEST_F(SessionFixture, UnwritableUpdateIniIsAnError)
{
    // A directory in the place of update.ini cannot be written as a file.
    ASSERT_TRUE(QDir().mkpath(ApplicationDirLock::updateIniPath() + "/x"));
    UpdateEngine engine(&m_Config, nullptr);
    QSignalSpy errors(&engine, SIGNAL(error(QString)));
    EXPECT_FALSE(engine.initialize());
    EXPECT_EQ(engine.state(), UpdateEngine::PRE_INIT);
    EXPECT_EQ(texts(errors), QStringList{"Failed to write update.ini. The updater does not seem "
                                         "to have the required write permissions."});
}

TEST_F(SessionFixture, CancelKeepsTheSessionForTheNextRun)
{
    // The product ini never arrives, so the root task is still running when
    // the cancel comes.
    LoopbackHttpServer server;
    ASSERT_TRUE(server.start());
    server.setPrefixResponse("/", {200, {}, {}, {}, LoopbackHttpServer::Fault::Stall, 0});
    Configuration::fileServerBaseUrl = server.url("/files/").toString();

    UpdateEngine engine(&m_Config, nullptr);
    engine.cancelUpdate(); // before the start: nothing happens
    EXPECT_EQ(engine.state(), UpdateEngine::PRE_INIT);

    QSignalSpy messages(&engine, SIGNAL(message(QString)));
    QSignalSpy canceled(&engine, SIGNAL(updateCanceled()));
    QSignalSpy finished(&engine, SIGNAL(updateFinished()));
    ASSERT_TRUE(engine.initialize());
    ASSERT_TRUE(engine.startUpdate());
    EXPECT_EQ(engine.state(), UpdateEngine::RUNNING);
    ASSERT_TRUE(plantest::waitUntil([&] { return !server.requests().isEmpty(); }));
    engine.cancelUpdate();
    ASSERT_TRUE(plantest::waitUntil([&] { return canceled.count() == 1; }));
    EXPECT_EQ(finished.count(), 0);
    EXPECT_EQ(engine.state(), UpdateEngine::CANCELED);
    EXPECT_FALSE(engine.isActive());
    EXPECT_TRUE(texts(messages).contains("User aborted update"));
    EXPECT_TRUE(QFileInfo::exists(m_Config.m_TempDir));
    EXPECT_TRUE(QFile::exists(UpdateIniData::path()));

    engine.resetAfterCancel();
    EXPECT_EQ(engine.state(), UpdateEngine::PRE_INIT);
}

TEST(UpdateEngineCleanup, RemoveDirectoryContentsLeavesSymlinksAndWhatTheyPointTo)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString dir = tmp.filePath("session");
    const QString outside = tmp.filePath("outside");
    ASSERT_TRUE(plantest::writeFile(dir + "/a.bin", "a"));
    ASSERT_TRUE(plantest::writeFile(dir + "/.hidden", "h"));
    ASSERT_TRUE(plantest::writeFile(dir + "/sub/deeper/b.bin", "b"));
    ASSERT_TRUE(plantest::writeFile(dir + "/keep/x", "x"));
    ASSERT_TRUE(plantest::writeFile(outside + "/precious.txt", "p"));
    ASSERT_EQ(symlink(outside.toUtf8().constData(), (dir + "/keep/link").toUtf8().constData()), 0);

    UpdateEngine::removeDirectoryContents(dir);

    EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot),
              QStringList{"keep"});
    EXPECT_EQ(QDir(dir + "/keep").entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                            QDir::NoDotAndDotDot),
              QStringList{"link"});
    EXPECT_TRUE(QFile::exists(outside + "/precious.txt"));
}
