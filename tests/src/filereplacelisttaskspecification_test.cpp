#include "configuration.h"
#include "dircreatetaskspecification.h"
#include "downloadreplacelists.h"
#include "filereplacelisttaskspecification.h"
#include "filereplacetaskspecification.h"

#include "fileopsrelease.h"
#include "fileopstesthelpers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

using namespace fileopstest;

namespace {

class FileReplaceListTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!QFileInfo::exists(ovpatchTool()))
            GTEST_SKIP() << "ovpatch is not built in this tree";
        QString why;
        ASSERT_TRUE(m_Release.build(m_Dir.path(), &why)) << why.toStdString();
        m_Config.m_InstallDir = m_Release.m_Install;
        m_Config.m_TempDir = m_Release.m_Temp;
    }

    TaskSpecification::TaskState run(QStringList *messages)
    {
        FileReplaceListTaskSpecification task(&m_Release.m_List, &m_Config, nullptr, 0.4);
        EXPECT_TRUE(runTask(&task, messages));
        return task.m_TaskState;
    }

    static uint mode(const QString &path)
    {
        return snapshot(QFileInfo(path).path()).value(QFileInfo(path).fileName()).mode;
    }

    QTemporaryDir m_Dir;
    ClientRelease m_Release;
    Configuration m_Config;
};

TEST_F(FileReplaceListTest, SuccessLeavesTheNewReleaseWithExecutableBits)
{
    QStringList messages;
    EXPECT_EQ(run(&messages), TaskSpecification::FINISHED) << messages.join("\n").toStdString();

    Snapshot actual = snapshot(m_Release.m_Install);
    Snapshot expected = snapshot(m_Release.m_New);
    // Modes of the new files depend on the umask; compare them separately.
    for (Node &n : actual)
        n.mode = 0;
    for (Node &n : expected)
        n.mode = 0;
    EXPECT_EQ(diffSnapshots(expected, actual), QStringList());

    EXPECT_EQ(mode(m_Release.m_Install + "/ov3client_linux_amd64"), 0777u);
    EXPECT_EQ(mode(m_Release.m_Install + "/lib/libfoo.so.1"), 0777u);
    EXPECT_NE(mode(m_Release.m_Install + "/lib/libbar.so.1.2") & 0111, 0111u);
    EXPECT_EQ(mode(m_Release.m_Install + "/data/unchanged.txt"), 0640u);

    EXPECT_EQ(messages.first(), "Starting file updates");
    EXPECT_TRUE(messages.contains("add/replace data/readme.txt"));
    EXPECT_TRUE(messages.contains("Patching ov3client_linux_amd64"));
    EXPECT_FALSE(messages.contains("rolling back file updates"));
    // The patch's old file stays in the temporary directory.
    EXPECT_EQ(readFile(m_Release.m_Temp + "/ov3client_linux_amd64_old"), readFile("/bin/true"));
}

struct FailureCase
{
    const char *name;
    std::function<bool(ClientRelease &)> inject;
    QString expectedMessage;
};

class FileReplaceFailureTest : public FileReplaceListTest,
                               public ::testing::WithParamInterface<FailureCase>
{
};

// Whatever step fails, the installation ends byte for byte (modes included)
// as it was before, and the log says why and that it was rolled back.
TEST_P(FileReplaceFailureTest, InstallationIsAsBefore)
{
    const FailureCase &c = GetParam();
    if (!c.inject(m_Release))
        GTEST_SKIP() << "this failure cannot be produced on this machine";
    const Snapshot before = snapshot(m_Release.m_Install);

    QStringList messages;
    const TaskSpecification::TaskState state = run(&messages);
    const Snapshot after = snapshot(m_Release.m_Install);
    setImmutable(m_Release.m_Install + "/data/readme.txt", false);

    EXPECT_EQ(state, TaskSpecification::FAILED);
    EXPECT_EQ(diffSnapshots(before, after), QStringList());
    EXPECT_TRUE(messages.filter(c.expectedMessage).size() == 1)
        << messages.join("\n").toStdString();
    EXPECT_TRUE(messages.contains("rolling back file updates"))
        << messages.join("\n").toStdString();
    EXPECT_TRUE(messages.filter("warning: rollback").isEmpty())
        << messages.join("\n").toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, FileReplaceFailureTest,
    ::testing::Values(FailureCase{"DirectoryCreation",
                                  [](ClientRelease &r) {
                                      // A file where a directory must go, sorted after the
                                      // directories that are created successfully.
                                      r.installOld("zblocked", "in the way\n", 0644);
                                      writeFile(r.m_Temp + "/zblocked/x.txt", "x");
                                      r.m_List << r.plain("zblocked/x.txt", "x");
                                      return true;
                                  },
                                  "because it already exists and is not a dir"},
                      FailureCase{"Copy",
                                  [](ClientRelease &r) {
                                      return QFile::remove(r.m_Temp + "/data/readme.txt");
                                  },
                                  "Could not copy"},
                      FailureCase{"CorruptPackage",
                                  [](ClientRelease &r) {
                                      const QString p = r.m_Temp + "/libfoo.so.1._lzma2_";
                                      QByteArray b = readFile(p);
                                      b[b.size() - 20] = char(b[b.size() - 20] ^ 0x5a);
                                      return writeFile(p, b);
                                  },
                                  "Could not unpack"},
                      FailureCase{"CorruptGzip",
                                  [](ClientRelease &r) {
                                      const QString p = r.m_Temp + "/libbar.so.1.2.gz";
                                      return writeFile(p, readFile(p).left(40));
                                  },
                                  "Could not unzip"},
                      FailureCase{"PatchAgainstChangedOldFile",
                                  [](ClientRelease &r) {
                                      QByteArray b = readFile("/bin/true");
                                      b[b.size() / 2] = char(b[b.size() / 2] ^ 1);
                                      r.installOld("ov3client_linux_amd64", b, 0755);
                                      return true;
                                  },
                                  "Could not patch"},
                      FailureCase{"HashMismatch",
                                  [](ClientRelease &r) {
                                      r.m_List[2].sha512 = sha512Hex("something else");
                                      return true;
                                  },
                                  "Signature check failed for"},
                      FailureCase{"ImmutableInstalledFile",
                                  [](ClientRelease &r) {
                                      return setImmutable(r.m_Install + "/data/readme.txt", true);
                                  },
                                  "Could not rename"}),
    [](const ::testing::TestParamInfo<FailureCase> &info) { return info.param.name; });

TEST(FileReplaceListWeights, DirectoriesFirstThenFilesAtEqualShares)
{
    QTemporaryDir dir;
    Configuration config;
    config.m_InstallDir = dir.filePath("install");
    config.m_TempDir = dir.filePath("temp");
    QDir().mkpath(config.m_InstallDir + "/existing");
    QList<ReplaceEntry> list;
    for (const char *rel : {"missing/a", "missing/b", "missing/c", "existing/d"}) {
        ReplaceEntry e;
        e.key = rel;
        list << e;
    }
    FileReplaceListTaskSpecification task(&list, &config, nullptr, 1.0);
    QStringList messages;
    ASSERT_TRUE(runTask(&task, &messages));
    // The sources are missing, so the copies fail; the plan is what counts.
    ASSERT_EQ(task.m_Subtasks.size(), 5);
    EXPECT_TRUE(qobject_cast<DirCreateTaskSpecification *>(task.m_Subtasks[0]));
    EXPECT_DOUBLE_EQ(task.m_Subtasks[0]->m_Weight, 0.1);
    for (int i = 1; i < 5; ++i)
        EXPECT_DOUBLE_EQ(task.m_Subtasks[i]->m_Weight, 0.225);
    // The created directory went again with the rollback.
    EXPECT_FALSE(QFileInfo::exists(config.m_InstallDir + "/missing"));
}

} // namespace
