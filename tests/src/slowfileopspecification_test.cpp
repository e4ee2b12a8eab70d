#include "filecopytaskspecification.h"
#include "filetaskspecification_patch.h"
#include "fileunpacktaskspecification_lzma2.h"
#include "fileunpacktaskspecification_zip.h"

#include "fileopstesthelpers.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fileopstest;

namespace {

class SlowFileOpTest : public ::testing::Test
{
protected:
    QString path(const QString &rel) const { return m_Dir.filePath(rel); }

    // Runs the task and checks the protocol every slow operation follows: a
    // success journals the target once and says nothing; a failure says its
    // failure text and nothing else, and journals nothing.
    void expectOutcome(SlowFileOpSpecification *task, bool success)
    {
        QStringList messages;
        ASSERT_TRUE(runTask(task, &messages));
        if (success) {
            EXPECT_EQ(task->m_TaskState, TaskSpecification::FINISHED);
            EXPECT_EQ(messages, QStringList());
            if (task->m_RollbackList) {
                ASSERT_EQ(task->m_RollbackList->size(), 1);
                EXPECT_EQ(task->m_RollbackList->at(0).m_Op, FILE_CREATE);
                EXPECT_EQ(task->m_RollbackList->at(0).m_Path, task->m_TargetPath);
            }
        } else {
            EXPECT_EQ(task->m_TaskState, TaskSpecification::FAILED);
            EXPECT_EQ(messages, QStringList(task->m_FailureText));
            if (task->m_RollbackList)
                EXPECT_TRUE(task->m_RollbackList->isEmpty());
        }
        delete task;
    }

    QTemporaryDir m_Dir;
    RollbackDataList m_Journal;
};

TEST_F(SlowFileOpTest, CopyNeverOverwrites)
{
    ASSERT_TRUE(writeFile(path("src"), "source"));
    ASSERT_TRUE(writeFile(path("taken"), "installed"));
    auto *failing =
        new FileCopyTaskSpecification(&m_Journal, path("src"), path("taken"), nullptr, 1.0);
    EXPECT_EQ(failing->m_FailureText,
              QString("Could not copy '%1' to '%2'").arg(path("src"), path("taken")));
    expectOutcome(failing, false);
    EXPECT_EQ(readFile(path("taken")), "installed");

    expectOutcome(new FileCopyTaskSpecification(&m_Journal, path("src"), path("new"), nullptr, 1.0),
                  true);
    EXPECT_EQ(readFile(path("new")), "source");
}

TEST_F(SlowFileOpTest, GzipUnpackCases)
{
    QByteArray content;
    for (int i = 0; i < 50000; ++i)
        content += QByteArray::number(i * 7919 % 10007) + ',';
    const QByteArray gz = gzipBytes(content);
    QByteArray corrupt = gz;
    corrupt[corrupt.size() / 2] = char(corrupt[corrupt.size() / 2] ^ 0x55);
    struct Case
    {
        const char *name;
        QByteArray source;
        bool success;
        QByteArray expected;
    } cases[] = {
        {"whole stream", gz, true, content},
        {"empty stream", gzipBytes(QByteArray()), true, QByteArray()},
        // No gzip header: zlib passes the bytes through.
        {"plain bytes", "not compressed\n", true, "not compressed\n"},
        {"cut short", gz.left(gz.size() / 2), false, QByteArray()},
        {"corrupt", corrupt, false, QByteArray()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        m_Journal.clear();
        ASSERT_TRUE(writeFile(path("pkg.gz"), c.source));
        // An existing target keeps its content until the new one is complete.
        ASSERT_TRUE(writeFile(path("out"), "previous"));
        auto *task = new FileUnpackTaskSpecification_zip(&m_Journal, path("pkg.gz"), path("out"),
                                                         nullptr, 1.0);
        EXPECT_EQ(task->m_FailureText,
                  QString("Could not unzip '%1' to '%2'").arg(path("pkg.gz"), path("out")));
        expectOutcome(task, c.success);
        EXPECT_EQ(readFile(path("out")), c.success ? c.expected : QByteArray("previous"));
        EXPECT_EQ(QDir(m_Dir.path()).entryList(QDir::Files).size(), 2) << "no stray files";
    }
}

TEST_F(SlowFileOpTest, GzipUnpackOfMissingSourceFails)
{
    expectOutcome(new FileUnpackTaskSpecification_zip(&m_Journal, path("absent.gz"), path("out"),
                                                      nullptr, 1.0),
                  false);
    EXPECT_FALSE(QFileInfo::exists(path("out")));
}

TEST_F(SlowFileOpTest, WithoutJournalNothingIsRecorded)
{
    ASSERT_TRUE(writeFile(path("pkg.gz"), gzipBytes("abc")));
    auto *task =
        new FileUnpackTaskSpecification_zip(nullptr, path("pkg.gz"), path("out"), nullptr, 1.0);
    expectOutcome(task, true);
    EXPECT_EQ(readFile(path("out")), "abc");
}

// A real package made by the publisher's tool, unpacked by the updater.
TEST_F(SlowFileOpTest, Lzma2UnpackOfRealPackages)
{
    if (!QFileInfo::exists(ovpatchTool()))
        GTEST_SKIP() << "ovpatch is not built in this tree";
    const QString input = "/bin/true";
    QString err;
    ASSERT_EQ(runProgram(ovpatchTool(), {"pack", input, path("exe._lzma2_")}, &err), 0)
        << err.toStdString();
    ASSERT_EQ(runProgram(ovpatchTool(), {"pack", "--plain", input, path("plain._lzma2_")}, &err), 0)
        << err.toStdString();

    for (const char *package : {"exe._lzma2_", "plain._lzma2_"}) {
        SCOPED_TRACE(package);
        m_Journal.clear();
        QFile::remove(path("out"));
        expectOutcome(new FileUnpackTaskSpecification_lzma2(&m_Journal, path(package), path("out"),
                                                            nullptr, 1.0),
                      true);
        EXPECT_EQ(readFile(path("out")), readFile(input));
    }

    QByteArray corrupt = readFile(path("plain._lzma2_"));
    corrupt[corrupt.size() - 8] = char(corrupt[corrupt.size() - 8] ^ 0xff);
    ASSERT_TRUE(writeFile(path("corrupt._lzma2_"), corrupt));
    ASSERT_TRUE(writeFile(path("out"), "previous"));
    m_Journal.clear();
    auto *task = new FileUnpackTaskSpecification_lzma2(&m_Journal, path("corrupt._lzma2_"),
                                                       path("out"), nullptr, 1.0);
    EXPECT_EQ(task->m_FailureText,
              QString("Could not unpack '%1' to '%2'").arg(path("corrupt._lzma2_"), path("out")));
    expectOutcome(task, false);
    EXPECT_EQ(readFile(path("out")), "previous");
}

// A real patch between two builds of a program, and the same patch against
// an old file that has changed since the patch was made.
TEST_F(SlowFileOpTest, PatchOfRealExecutable)
{
    if (!QFileInfo::exists(ovpatchTool()))
        GTEST_SKIP() << "ovpatch is not built in this tree";
    QString err;
    ASSERT_EQ(
        runProgram(ovpatchTool(), {"make", "/bin/true", "/bin/false", path("p._patch_")}, &err), 0)
        << err.toStdString();
    ASSERT_TRUE(QFile::copy("/bin/true", path("old")));

    auto *task = new FileTaskSpecification_patch(&m_Journal, path("old"), path("p._patch_"),
                                                 path("new"), nullptr, 1.0);
    expectOutcome(task, true);
    EXPECT_EQ(readFile(path("new")), readFile("/bin/false"));

    QByteArray changed = readFile("/bin/true");
    changed[changed.size() / 2] = char(changed[changed.size() / 2] ^ 1);
    ASSERT_TRUE(writeFile(path("old"), changed));
    ASSERT_TRUE(writeFile(path("new"), "previous"));
    m_Journal.clear();
    task = new FileTaskSpecification_patch(&m_Journal, path("old"), path("p._patch_"), path("new"),
                                           nullptr, 1.0);
    EXPECT_EQ(task->m_FailureText,
              QString("Could not patch '%1' to '%2'").arg(path("old"), path("new")));
    expectOutcome(task, false);
    EXPECT_EQ(readFile(path("new")), "previous");
}

} // namespace
