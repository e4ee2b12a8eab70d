#include "applicationdirlock.h"
#include "configuration.h"
#include "crypto.h"
#include "loopbackhttpserver.h"
#include "maintaskspecification.h"
#include "updateinidata.h"

#include "fileopsrelease.h"
#include "fileopstesthelpers.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fileopstest;

namespace {

const int Version = 7;

// A whole client update through the root task: a signed product ini on a
// loopback file server, the release's files and patch on it, install
// commands as real shell scripts in the session directory.
class MainTaskTest : public ::testing::Test
{
protected:
    // Start-up does this in the updater.
    static void SetUpTestSuite() { initCrypto(); }

    void SetUp() override
    {
        if (!QFileInfo::exists(ovpatchTool()) || !QFileInfo::exists(publishTool()))
            GTEST_SKIP() << "ovpatch or ov3-publish is not built in this tree";
        ASSERT_TRUE(m_Server.start());
        Configuration::fileServerBaseUrl = m_Server.url("/files/").toString();
        m_Server.serveDirectory("/files/", m_Dir.filePath("server"));
        m_Config.m_Version = Version;
        m_Config.m_Streams = 2;
    }

    QString serverPath(const QString &rel) const
    {
        return m_Dir.filePath("server/" + QString::number(Version) + "/" + rel);
    }

    // Signs and packs the product ini named iniName and puts it on the server.
    void publishIni(const QString &iniName, const QString &text)
    {
        const QString plain = m_Dir.filePath(iniName);
        ASSERT_TRUE(writeFile(plain, text.toUtf8()));
        QString err;
        ASSERT_EQ(
            runProgram(
                publishTool(),
                {"sign", QStringLiteral(OV3_SOURCE_DIR) + "/keys/demo-only/private.der", plain},
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

    // A shell script in the session directory that records its arguments and
    // exits with code.
    void script(const QString &name, int code)
    {
        const QString path = m_Config.m_TempDir + "/" + name;
        writeFile(
            path,
            QString("#!/bin/sh\necho \"$@\" > \"%1.ran\"\nexit %2\n").arg(path).arg(code).toUtf8());
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner);
    }

    TaskSpecification::TaskState run(QStringList *messages)
    {
        MainTaskSpecification task(&m_Nam, &m_Config, nullptr, 1.0);
        EXPECT_TRUE(runTask(&task, messages, 120000));
        return task.m_TaskState;
    }

    QTemporaryDir m_Dir;
    LoopbackHttpServer m_Server;
    QNetworkAccessManager m_Nam;
    Configuration m_Config;
};

class ClientStepTest : public MainTaskTest
{
protected:
    void SetUp() override
    {
        MainTaskTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        QString why;
        ASSERT_TRUE(m_Release.build(m_Dir.filePath("release"), &why)) << why.toStdString();
        m_Config.m_UpdateStep = 1;
        m_Config.m_InstallDir = m_Release.m_Install;
        m_Config.m_TempDir = m_Dir.filePath("orvane_temp_7");
        QDir().mkpath(m_Config.m_TempDir);
        for (const auto &file : qAsConst(m_Release.m_ServerFiles))
            ASSERT_TRUE(writeFile(serverPath("client/" + file.first), file.second));
        m_Release.installOld("obsolete/old.txt", "to be deleted\n", 0644);
    }

    void publish(const QString &preOptional, const QString &postOptional)
    {
        publishIni("ov3_client_linux_amd64.ini",
                   m_Release.productIniSection() +
                       "[delete]\nobsolete = 2\n"
                       "[preinstall]\npre.sh = linux64, one::__OV3_DIR__/x" +
                       preOptional +
                       "\n"
                       "[postinstall]\npost.sh = linux64, done" +
                       postOptional + "\n");
    }

    Snapshot newRelease() const
    {
        Snapshot s = snapshot(m_Release.m_New);
        for (Node &n : s)
            n.mode = 0;
        return s;
    }

    Snapshot installed() const
    {
        Snapshot s = snapshot(m_Release.m_Install);
        for (Node &n : s)
            n.mode = 0;
        return s;
    }

    ClientRelease m_Release;
};

TEST_F(ClientStepTest, InstallationBecomesTheNewRelease)
{
    publish(QString(), QString());
    script("pre.sh", 0);
    script("post.sh", 0);
    QStringList messages;
    EXPECT_EQ(run(&messages), TaskSpecification::FINISHED) << messages.join("\n").toStdString();
    EXPECT_EQ(diffSnapshots(newRelease(), installed()), QStringList())
        << messages.join("\n").toStdString();
    EXPECT_EQ(QFileInfo(m_Release.m_Install + "/ov3client_linux_amd64").permissions() & 0x0777,
              0x0777);
    EXPECT_EQ(readFile(m_Config.m_TempDir + "/pre.sh.ran"),
              "--one --" + m_Release.m_Install.toUtf8() + "/x\n");
    EXPECT_EQ(readFile(m_Config.m_TempDir + "/post.sh.ran"), "--done\n");
    EXPECT_EQ(messages.value(0), "Starting update process for client");
    EXPECT_TRUE(messages.contains("Starting file updates"));
    EXPECT_TRUE(messages.contains("Starting deleting files"));
}

// A required pre-install command that fails ends the run before any
// installed file is touched; an optional one that is missing does not.
TEST_F(ClientStepTest, InstallCommandOutcomes)
{
    struct Case
    {
        const char *name;
        int preCode;
        bool postPresent;
        TaskSpecification::TaskState state;
        QString expected;
    } cases[] = {
        {"pre exits 1", 1, true, TaskSpecification::FAILED,
         "Failed to complete pre.sh, exit code: 1"},
        {"pre exits 2", 2, true, TaskSpecification::FAILED, QString()},
        {"optional post missing", 0, false, TaskSpecification::FINISHED, "Failed to start post.sh"},
    };
    publish(QString(), ", optional");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Snapshot before = snapshot(m_Release.m_Install);
        script("pre.sh", c.preCode);
        if (c.postPresent)
            script("post.sh", 0);
        else
            QFile::remove(m_Config.m_TempDir + "/post.sh");
        QStringList messages;
        EXPECT_EQ(run(&messages), c.state) << messages.join("\n").toStdString();
        if (!c.expected.isEmpty())
            EXPECT_EQ(messages.filter(c.expected).size(), 1) << messages.join("\n").toStdString();
        else
            EXPECT_EQ(messages.filter("Failed to complete").size(), 0);
        if (c.state == TaskSpecification::FAILED) {
            EXPECT_EQ(diffSnapshots(before, snapshot(m_Release.m_Install)), QStringList());
            EXPECT_FALSE(messages.contains("Starting file updates"));
        } else {
            EXPECT_EQ(diffSnapshots(newRelease(), installed()), QStringList());
        }
    }
}

// A release whose gzip package is what its line announces but unpacks to
// something else than the product ini promises: the run fails at the
// replacement, after other files were already in place, and the installation
// is the old one again.
TEST_F(ClientStepTest, FailedReplacementLeavesTheOldInstallation)
{
    publish(QString(), QString());
    script("pre.sh", 0);
    script("post.sh", 0);
    const QByteArray wrong = gzipBytes("not the bar library\n");
    ASSERT_TRUE(writeFile(serverPath("client/libbar.so.1.2.gz"), wrong));
    publishIni("ov3_client_linux_amd64.ini",
               QString(m_Release.productIniSection())
                       .replace(sha512Hex(gzipBytes(m_Release.m_Bar)) +
                                    "::" + QString::number(gzipBytes(m_Release.m_Bar).size()),
                                sha512Hex(wrong) + "::" + QString::number(wrong.size())) +
                   "[delete]\nobsolete = 2\n");
    const Snapshot before = snapshot(m_Release.m_Install);
    QStringList messages;
    EXPECT_EQ(run(&messages), TaskSpecification::FAILED);
    EXPECT_EQ(diffSnapshots(before, snapshot(m_Release.m_Install)), QStringList());
    EXPECT_TRUE(messages.contains("rolling back file updates"))
        << messages.join("\n").toStdString();
    EXPECT_EQ(messages.filter("Signature check failed for").size(), 1);
    EXPECT_FALSE(QFileInfo::exists(m_Config.m_TempDir + "/post.sh.ran"));
}

// Step one: the new updater is assembled in the session directory.
TEST_F(MainTaskTest, UpdaterStepAssemblesARunnableUpdater)
{
    ApplicationDirLock lock;
    m_Config.m_UpdateStep = 0;
    m_Config.m_InstallDir = m_Dir.filePath("install");
    m_Config.m_TempDir = m_Dir.filePath("orvane_temp_7");
    QDir().mkpath(m_Config.m_TempDir);
    QDir().mkpath(m_Config.m_InstallDir);
    // The installed updater is old; the new one comes as a package.
    ASSERT_TRUE(writeFile(m_Config.m_InstallDir + "/update", "#!/bin/sh\nexit 3\n"));
    const QByteArray newUpdater = "#!/bin/sh\nexit 0\n";
    ASSERT_TRUE(writeFile(m_Dir.filePath("update.new"), newUpdater));
    QDir().mkpath(serverPath("updater"));
    QString err;
    ASSERT_EQ(
        runProgram(ovpatchTool(),
                   {"pack", m_Dir.filePath("update.new"), serverPath("updater/update._lzma2_")},
                   &err),
        0)
        << err.toStdString();
    const QByteArray package = readFile(serverPath("updater/update._lzma2_"));
    publishIni("update_linux_amd64.ini",
               "[updater]\nupdate._lzma2_ = " + sha512Hex(package) +
                   "::" + QString::number(package.size()) + "::" + sha512Hex(newUpdater) +
                   "::" + QString::number(newUpdater.size()) + "::update\n");
    ASSERT_TRUE(UpdateIniData::modify(Version, m_Config.m_TempDir, m_Config.m_InstallDir,
                                      "update_linux_amd64"));

    QStringList messages;
    EXPECT_EQ(run(&messages), TaskSpecification::FINISHED) << messages.join("\n").toStdString();
    EXPECT_EQ(messages.value(0), "Starting update process for updater");
    EXPECT_EQ(readFile(m_Config.m_TempDir + "/update"), newUpdater);
    EXPECT_EQ(runProgram(m_Config.m_TempDir + "/update", {}), 0);
    EXPECT_EQ(QSettings(m_Config.m_TempDir + "/update.ini", QSettings::IniFormat)
                  .value("current/type")
                  .toString(),
              "client_linux_amd64");
    EXPECT_EQ(readFile(m_Config.m_InstallDir + "/update"), "#!/bin/sh\nexit 3\n");
}

} // namespace
