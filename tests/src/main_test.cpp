// The real updater binary, started as a user would start it.
#include "loopbackhttpserver.h"
#include "plantesthelpers.h"
#include "singleinstancechecker.h"
#include "updaterprocess.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

void touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("x");
}

// Without a version on the command line the updater asks the version server
// once its event loop runs: start-up is over by then. The server never
// answers, and the test stops the updater there. False when the query did not
// come or the updater had already ended.
bool runToVersionQuery(UpdaterProcess &updater)
{
    LoopbackHttpServer server;
    if (!server.start())
        return false;
    server.serveStall("/ov3-client-2");
    updater.setEnvironmentValue("OV3_VERSION_SERVER_URL", server.url("/ov3-client-2").toString());
    QProcess process;
    updater.start(process);
    const bool asked = plantest::waitUntil(
        [&] { return server.requestCount("/ov3-client-2") > 0 || process.state() == QProcess::NotRunning; },
        30000);
    const bool running = process.state() == QProcess::Running;
    process.kill();
    process.waitForFinished();
    return asked && running && server.requestCount("/ov3-client-2") > 0;
}

} // namespace

TEST(UpdaterStart, FirstLogLineAnnouncesTheStart)
{
    UpdaterProcess updater;
    ASSERT_TRUE(updater.isValid());
    updater.enableLog();
    ASSERT_TRUE(runToVersionQuery(updater));

    const QStringList lines = updater.logLines();
    ASSERT_FALSE(lines.isEmpty());
    const QRegularExpression first(
        R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3}\t\|\tDebug\t\|\tOrvane updater started$)");
    EXPECT_TRUE(first.match(lines.first()).hasMatch()) << lines.first().toStdString();
    EXPECT_TRUE(!lines.filter(QRegularExpression("\tRemoving old files done$")).isEmpty());

    const QStringList logs =
        QDir(updater.tempDir() + "/orvane_update_log").entryList({"*.log"}, QDir::Files);
    ASSERT_EQ(logs.size(), 1);
    EXPECT_TRUE(QRegularExpression(R"(^update__\d{4}-\d\d-\d\d__\d\d_\d\d_\d\d\.log$)")
                    .match(logs.first())
                    .hasMatch())
        << logs.first().toStdString();
}

TEST(UpdaterStart, WithoutMarkerNothingIsWrittenAnywhere)
{
    UpdaterProcess updater;
    ASSERT_TRUE(updater.isValid());
    ASSERT_TRUE(runToVersionQuery(updater));
    EXPECT_FALSE(QFileInfo::exists(updater.tempDir() + "/orvane_update_log"));
}

// Stale files of earlier updater versions: which survive a start.
TEST(UpdaterStart, RemovesStaleFilesOfEarlierVersions)
{
    struct Case
    {
        const char *path;
        bool survives;
    };
    const Case cases[] = {
        {"_old_update", false},
        {"_old_libQt5Core.so.5", false},
        {"libQtGui.so.4", false},
        {"libQtSql.so.4", false},
        {"libqgif.so", true},         // only its "_old_" form is stale
        {"_old_libQt5Widgets.so.5", true}, // not in the list
        {"libQt5Core.so.5", true},
        {"imageformats/_old_libqjpeg.so", false},
        {"accessible/_old_libqtaccessiblewidgets.so", false},
        {"sqldrivers/_old_libsqlite.so", false},
        {"sqldrivers/libQtCore.so.4", true}, // Qt 4 files only beside the updater
        {"old/_old_update", false},
    };
    UpdaterProcess updater;
    ASSERT_TRUE(updater.isValid());
    for (const Case &c : cases)
        touch(updater.appDir() + "/" + c.path);

    ASSERT_TRUE(runToVersionQuery(updater));
    for (const Case &c : cases)
        EXPECT_EQ(QFileInfo::exists(updater.appDir() + "/" + c.path), c.survives) << c.path;
    // "old" held only stale files, so it is gone; the others keep their directory.
    EXPECT_FALSE(QFileInfo::exists(updater.appDir() + "/old"));
    EXPECT_TRUE(QFileInfo::exists(updater.appDir() + "/imageformats"));
}

TEST(UpdaterStart, OldDirectoryWithOtherFilesSurvives)
{
    UpdaterProcess updater;
    ASSERT_TRUE(updater.isValid());
    touch(updater.appDir() + "/old/_old_update");
    touch(updater.appDir() + "/old/keep.txt");
    ASSERT_TRUE(runToVersionQuery(updater));
    EXPECT_FALSE(QFileInfo::exists(updater.appDir() + "/old/_old_update"));
    EXPECT_TRUE(QFileInfo::exists(updater.appDir() + "/old/keep.txt"));
}

// A second updater from the same path and home knocks at the running one and
// gives way.
TEST(UpdaterStart, SecondInstanceKnocksAndExits)
{
    UpdaterProcess updater;
    ASSERT_TRUE(updater.isValid());
    updater.enableLog();

    // The test plays the running updater: it listens under the name the
    // updater computes for its own path and home, in the updater's TMPDIR.
    const QByteArray savedTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", updater.tempDir().toLocal8Bit());
    SingleInstanceChecker running(
        SingleInstanceChecker::serverName(updater.executable(), updater.homeDir()), nullptr);
    qputenv("TMPDIR", savedTmp);
    ASSERT_TRUE(running.isListening());
    QSignalSpy knocks(&running, SIGNAL(otherInstanceActivate(QString)));

    QProcess second;
    updater.start(second);
    ASSERT_TRUE(knocks.wait(10000));
    ASSERT_TRUE(UpdaterProcess::waitForEnd(second, 10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(knocks.size(), 1);
    EXPECT_EQ(knocks.first().first().toString(), "#");
    EXPECT_FALSE(updater.logLines()
                     .filter(QRegularExpression(
                         "\tDebug\t\\|\tDetected other instance running, aborting$"))
                     .isEmpty());
}

// Another user (another home) may run the same updater at the same time.
TEST(UpdaterStart, OtherHomeDoesNotKnock)
{
    UpdaterProcess updater;
    ASSERT_TRUE(updater.isValid());
    updater.enableLog();
    const QByteArray savedTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", updater.tempDir().toLocal8Bit());
    SingleInstanceChecker running(
        SingleInstanceChecker::serverName(updater.executable(), "/home/somebody-else"), nullptr);
    qputenv("TMPDIR", savedTmp);
    QSignalSpy knocks(&running, SIGNAL(otherInstanceActivate(QString)));

    ASSERT_TRUE(runToVersionQuery(updater));
    EXPECT_EQ(knocks.size(), 0);
    EXPECT_TRUE(updater.logLines().filter("Detected other instance running").isEmpty());
}
