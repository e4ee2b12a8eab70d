#include "applicationdirlock.h"
#include "configuration.h"
#include "downloadreplacelists.h"
#include "updateinidata.h"
#include "updateselfunziptaskspecification.h"

#include "fileopstesthelpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fileopstest;

namespace {

class UpdateSelfUnzipTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_Config.m_InstallDir = m_Dir.filePath("install");
        m_Config.m_TempDir = m_Dir.filePath("orvane_temp_1");
        QDir().mkpath(m_Config.m_InstallDir);
        QDir().mkpath(m_Config.m_TempDir);
        m_Translations = QCoreApplication::applicationDirPath() + "/translations";
        for (const char *name : {"update_de.qm", "update_fr.qm", "qt_de.qm"})
            writeFile(m_Translations + "/" + name, QByteArray("qm ") + name);
    }

    void TearDown() override
    {
        for (const char *name : {"update_de.qm", "update_fr.qm", "qt_de.qm"})
            QFile::remove(m_Translations + "/" + name);
        QDir().rmdir(m_Translations);
    }

    static ReplaceEntry entry(const QString &key, const QString &target,
                              const QString &patch = QString())
    {
        ReplaceEntry e;
        e.key = key;
        e.targetName = target;
        e.patchName = patch;
        return e;
    }

    QTemporaryDir m_Dir;
    Configuration m_Config;
    QString m_Translations;
    // update.ini beside the test program is shared with other test programs.
    ApplicationDirLock m_Lock;
};

TEST_F(UpdateSelfUnzipTest, AssemblesTheNewUpdaterInTheSessionDirectory)
{
    if (!QFileInfo::exists(ovpatchTool()))
        GTEST_SKIP() << "ovpatch is not built in this tree";
    const QString temp = m_Config.m_TempDir;
    const QString updater = QStringLiteral(OV3_BIN_DIR) + "/update";
    QString err;
    ASSERT_EQ(runProgram(ovpatchTool(), {"pack", updater, temp + "/update._lzma2_"}, &err), 0)
        << err.toStdString();
    ASSERT_EQ(runProgram(ovpatchTool(),
                         {"make", "/bin/true", "/bin/false", temp + "/libupd.so.1._patch_"}, &err),
              0)
        << err.toStdString();
    ASSERT_TRUE(QDir().mkpath(m_Config.m_InstallDir + "/lib"));
    ASSERT_TRUE(QFile::copy("/bin/true", m_Config.m_InstallDir + "/lib/libupd.so.1"));
    ASSERT_TRUE(writeFile(temp + "/notes.txt.gz", gzipBytes("release notes\n")));
    // Placed by the list compiler already; nothing to do for it here.
    ASSERT_TRUE(writeFile(temp + "/plain.txt", "plain\n"));
    const Snapshot installBefore = snapshot(m_Config.m_InstallDir);

    ASSERT_TRUE(UpdateIniData::modify(4711, temp, m_Config.m_InstallDir, "update_linux_amd64"));

    QList<ReplaceEntry> list{entry("update._lzma2_", "update"),
                             entry("libupd.so.1._lzma2_", "lib/libupd.so.1", "libupd.so.1._patch_"),
                             entry("notes.txt.gz", "doc/notes.txt"), entry("plain.txt", QString())};
    UpdateSelfUnzipTaskSpecification task(&list, &m_Config, nullptr, 0.4);
    QStringList messages;
    ASSERT_TRUE(runTask(&task, &messages));
    EXPECT_EQ(task.m_TaskState, TaskSpecification::FINISHED) << messages.join("\n").toStdString();
    EXPECT_EQ(task.m_Subtasks.size(), 3);
    EXPECT_EQ(messages, QStringList("Patching lib/libupd.so.1"));

    EXPECT_EQ(readFile(temp + "/update"), readFile(updater));
    EXPECT_EQ(QFileInfo(temp + "/update").permissions() & 0x0777, 0x0777);
    EXPECT_EQ(readFile(temp + "/lib/libupd.so.1"), readFile("/bin/false"));
    EXPECT_EQ(readFile(temp + "/doc/notes.txt"), "release notes\n");

    QSettings ini(temp + "/update.ini", QSettings::IniFormat);
    EXPECT_EQ(ini.value("current/type").toString(), "client_linux_amd64");
    EXPECT_EQ(ini.value("current/version").toInt(), 4711);
    EXPECT_EQ(ini.value("current/dir").toString(), temp);
    EXPECT_EQ(ini.value("current/ov3dir").toString(), m_Config.m_InstallDir);

    EXPECT_EQ(QDir(temp + "/translations").entryList(QDir::Files),
              QStringList({"update_de.qm", "update_fr.qm"}));
    EXPECT_EQ(diffSnapshots(installBefore, snapshot(m_Config.m_InstallDir)), QStringList());
}

TEST_F(UpdateSelfUnzipTest, PlainOnlyListStillPreparesTheDirectory)
{
    ASSERT_TRUE(writeFile(m_Config.m_TempDir + "/update", "#!/bin/sh\nexit 0\n"));
    ASSERT_TRUE(
        UpdateIniData::modify(12, m_Config.m_TempDir, m_Config.m_InstallDir, "update_linux_amd64"));
    QList<ReplaceEntry> list{entry("update", QString())};
    UpdateSelfUnzipTaskSpecification task(&list, &m_Config, nullptr, 0.4);
    ASSERT_TRUE(runTask(&task));
    EXPECT_EQ(task.m_TaskState, TaskSpecification::FINISHED);
    EXPECT_TRUE(task.m_Subtasks.isEmpty());
    EXPECT_EQ(QFileInfo(m_Config.m_TempDir + "/update").permissions() & 0x0777, 0x0777);
    EXPECT_EQ(runProgram(m_Config.m_TempDir + "/update", {}), 0);
    EXPECT_TRUE(QFileInfo::exists(m_Config.m_TempDir + "/update.ini"));
}

// Without a session record to copy the new updater could not continue; the
// task reports it and ends instead of leaving the run waiting.
TEST_F(UpdateSelfUnzipTest, UnwritableSessionRecordEndsTheTask)
{
    QList<ReplaceEntry> list;
    UpdateSelfUnzipTaskSpecification task(&list, &m_Config, nullptr, 0.4);
    QSignalSpy errors(&task, &TaskSpecification::error);
    ASSERT_TRUE(runTask(&task, nullptr, 5000));
    EXPECT_EQ(task.m_TaskState, TaskSpecification::FAILED);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0][0].toString(), "Failed to write temp update.ini. The updater does not "
                                       "seem to have the required write permissions.");
    EXPECT_FALSE(QFileInfo::exists(m_Config.m_TempDir + "/translations"));
}

} // namespace
