// The real `update` binary against loopback version and file servers, on an
// installation made from a release built with the project's own tools: the
// two-step update, an interrupted session and a session for another version.
#include "fileopsrelease.h"
#include "fileopstesthelpers.h"
#include "loopbackhttpserver.h"
#include "plantesthelpers.h"
#include "updaterprocess.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fileopstest;

namespace {

const int Version = 7;

class EndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!QFileInfo::exists(ovpatchTool()) || !QFileInfo::exists(publishTool()))
            GTEST_SKIP() << "ovpatch or ov3-publish is not built in this tree";
        ASSERT_TRUE(m_Updater.isValid());
        ASSERT_TRUE(m_Dir.isValid());
        ASSERT_TRUE(m_Server.start());
        m_Server.serveDirectory("/files/", m_Dir.filePath("server"));
        m_Updater.enableLog();
        m_Updater.setEnvironmentValue("OV3_FILE_SERVER_URL", m_Server.url("/files/").toString());
        // Nothing in these runs may ask the version server.
        m_Updater.setEnvironmentValue("OV3_VERSION_SERVER_URL",
                                      m_Server.url("/no-version-server").toString());

        QString why;
        ASSERT_TRUE(m_Release.build(m_Dir.filePath("release"), &why)) << why.toStdString();
        for (const auto &file : qAsConst(m_Release.m_ServerFiles))
            ASSERT_TRUE(writeFile(serverPath("client/" + file.first), file.second));
        // The installation is the updater's directory: the old client beside
        // the updater, and the client's start script.
        copyTree(m_Release.m_Install, install());
        ASSERT_TRUE(writeFile(install() + "/ov3client_runscript.sh",
                              QString("#!/bin/sh\necho \"$0 $(pwd)\" > \"%1\"\n")
                                  .arg(clientMarker())
                                  .toUtf8()));
        QFile::setPermissions(install() + "/ov3client_runscript.sh",
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                  QFileDevice::ExeOwner);
        publishIni("ov3_client_linux_amd64.ini", m_Release.productIniSection());
    }

    QString install() const { return m_Updater.appDir(); }
    QString clientMarker() const { return m_Dir.filePath("client-ran"); }
    QString serverPath(const QString &rel) const
    {
        return m_Dir.filePath("server/" + QString::number(Version) + "/" + rel);
    }

    static void copyTree(const QString &from, const QString &to)
    {
        QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString rel = QDir(from).relativeFilePath(path);
            QDir().mkpath(QFileInfo(to + "/" + rel).path());
            QFile::copy(path, to + "/" + rel);
            QFile::setPermissions(to + "/" + rel, QFile::permissions(path));
        }
    }

    void publishIni(const QString &iniName, const QString &text)
    {
        const QString plain = m_Dir.filePath(iniName);
        ASSERT_TRUE(writeFile(plain, text.toUtf8()));
        QString err;
        ASSERT_EQ(runProgram(publishTool(),
                             {"sign", QStringLiteral(OV3_SOURCE_DIR) + "/keys/demo-only/private.der",
                              plain},
                             &err),
                  0)
            << err.toStdString();
        QDir().mkpath(serverPath(""));
        ASSERT_EQ(runProgram(ovpatchTool(),
                             {"pack", "--plain", plain, serverPath(iniName + "._lzma2_")}, &err),
                  0)
            << err.toStdString();
        QFile::remove(serverPath(iniName + ".sig"));
        ASSERT_TRUE(QFile::copy(plain + ".sig", serverPath(iniName + ".sig")));
    }

    // The client's files as they must be after the update: the new release,
    // with the updater and the start script that are not part of it.
    void expectNewRelease()
    {
        Snapshot actual = snapshot(install());
        Snapshot expected = snapshot(m_Release.m_New);
        for (const QString &own : {QString("update"), QString("ov3client_runscript.sh")}) {
            EXPECT_TRUE(actual.contains(own)) << own.toStdString();
            actual.remove(own);
        }
        for (auto it = actual.begin(); it != actual.end();) {
            if (it.key().startsWith("translations"))
                it = actual.erase(it);
            else
                ++it;
        }
        for (Node &n : actual)
            n.mode = 0;
        for (Node &n : expected)
            n.mode = 0;
        EXPECT_EQ(diffSnapshots(expected, actual), QStringList());
    }

    QStringList sessionDirs() const
    {
        return QDir(m_Updater.tempDir()).entryList({"orvane_temp_*"}, QDir::Dirs);
    }

    // Every run writes its own log file, and step two may have started one
    // already, so all of them are read.
    QString log() const
    {
        QString text;
        const QDir dir(m_Updater.tempDir() + "/orvane_update_log");
        for (const QString &name : dir.entryList({"update__*.log"}, QDir::Files, QDir::Name))
            text += QString::fromLocal8Bit(readFile(dir.filePath(name))) + "\n";
        return text;
    }

    UpdaterProcess m_Updater;
    QTemporaryDir m_Dir;
    LoopbackHttpServer m_Server;
    ClientRelease m_Release;
};

} // namespace

TEST_F(EndToEndTest, TwoStepUpdateOfARealInstallation)
{
    // Step one's manifest: the updater, as the publisher packs it.
    QDir().mkpath(serverPath("updater"));
    QString err;
    ASSERT_EQ(runProgram(ovpatchTool(),
                         {"pack", m_Updater.executable(), serverPath("updater/update._lzma2_")},
                         &err),
              0)
        << err.toStdString();
    const QByteArray updater = readFile(m_Updater.executable());
    const QByteArray package = readFile(serverPath("updater/update._lzma2_"));
    publishIni("update_linux_amd64.ini",
               "[updater]\nupdate._lzma2_ = " + sha512Hex(package) + "::" +
                   QString::number(package.size()) + "::" + sha512Hex(updater) + "::" +
                   QString::number(updater.size()) + "::update\n");

    ASSERT_TRUE(m_Updater.run({"update_linux_amd64", QString::number(Version)}, 120000));
    EXPECT_EQ(m_Updater.exitCode(), 0) << m_Updater.output().toStdString();
    ASSERT_EQ(sessionDirs().size(), 1);
    const QString session = m_Updater.tempDir() + "/" + sessionDirs().first();
    // Step one handed over to the new updater in the session directory.
    EXPECT_TRUE(log().contains(QString("startClientUpdater \"%1\" (\"--clientupdate\", "
                                       "\"client_linux_amd64\", \"%2\", \"#\")")
                                   .arg(session)
                                   .arg(Version)))
        << log().toStdString();
    EXPECT_FALSE(QFileInfo::exists(install() + "/update.ini"));

    // Step two runs detached; the client's start script is its last act.
    ASSERT_TRUE(plantest::waitUntil([&] { return QFileInfo::exists(clientMarker()); }, 120000))
        << log().toStdString();
    EXPECT_EQ(readFile(clientMarker()).trimmed(),
              (install() + "/ov3client_runscript.sh " + QFileInfo(install()).canonicalFilePath())
                  .toUtf8());
    expectNewRelease();
    EXPECT_FALSE(QFileInfo::exists(session));
    EXPECT_FALSE(QFileInfo::exists(install() + "/update.ini"));
    EXPECT_EQ(readFile(install() + "/update"), updater);
}

TEST_F(EndToEndTest, InterruptedSessionContinuesWithoutFetchingAgain)
{
    // The patch never arrives: the updater is killed while it waits for it.
    const QString stalled = "/files/" + QString::number(Version) + "/client/" +
                            QString("ov3client_linux_amd64._patch_");
    m_Server.serveStall(stalled);
    const QStringList args = {"--clientupdate", "client_linux_amd64", QString::number(Version), "#"};
    {
        QProcess first;
        m_Updater.start(first, args);
        ASSERT_TRUE(plantest::waitUntil(
            [&] {
                return m_Server.requestCount(stalled) > 0 &&
                       m_Server.requestCount("/files/7/client/data/readme.txt") > 0;
            },
            60000))
            << log().toStdString();
        // The other downloads finish while the patch stalls.
        plantest::waitUntil([] { return false; }, 1500);
        first.kill();
        first.waitForFinished();
    }
    ASSERT_EQ(sessionDirs().size(), 1);
    const QString session = m_Updater.tempDir() + "/" + sessionDirs().first();
    ASSERT_TRUE(QFileInfo::exists(session + "/data/readme.txt"));
    const int readmeRequests = m_Server.requestCount("/files/7/client/data/readme.txt");

    // The same version again: the session continues and only the patch is
    // fetched.
    m_Server.clear();
    m_Server.serveDirectory("/files/", m_Dir.filePath("server"));
    ASSERT_EQ(m_Server.requestCount("/files/7/client/data/readme.txt"), 0);
    QProcess second;
    m_Updater.start(second, args);
    ASSERT_TRUE(plantest::waitUntil([&] { return QFileInfo::exists(clientMarker()); }, 120000))
        << log().toStdString();
    ASSERT_TRUE(UpdaterProcess::waitForEnd(second, 10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_GT(readmeRequests, 0);
    EXPECT_EQ(m_Server.requestCount("/files/7/client/data/readme.txt"), 0);
    EXPECT_EQ(m_Server.requestCount(stalled), 1);
    EXPECT_TRUE(log().contains("Continuing previous session")) << log().toStdString();
    expectNewRelease();
    EXPECT_FALSE(QFileInfo::exists(session));
}

TEST_F(EndToEndTest, RunForAnotherVersionCleansTheOldSessionAway)
{
    // A session of version 6 was interrupted.
    const QString old = m_Updater.tempDir() + "/orvane_temp_5";
    ASSERT_TRUE(writeFile(old + "/data/readme.txt", "half"));
    QSettings ini(install() + "/update.ini", QSettings::IniFormat);
    ini.setValue("current/version", 6);
    ini.setValue("current/dir", old);
    ini.setValue("current/ov3dir", install());
    ini.setValue("current/type", "client_linux_amd64");
    ini.sync();

    QProcess run;
    m_Updater.start(run, {"--clientupdate", "client_linux_amd64", QString::number(Version), "#"});
    ASSERT_TRUE(plantest::waitUntil([&] { return QFileInfo::exists(clientMarker()); }, 120000))
        << log().toStdString();
    ASSERT_TRUE(UpdaterProcess::waitForEnd(run, 10000));
    EXPECT_EQ(run.exitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(old));
    EXPECT_TRUE(log().contains("Cleaning up previous session")) << log().toStdString();
    expectNewRelease();
    EXPECT_TRUE(sessionDirs().isEmpty());
}
