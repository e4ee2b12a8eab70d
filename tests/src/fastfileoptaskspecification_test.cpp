#include "dircreatetaskspecification.h"
#include "filedeletetaskspecification.h"
#include "filerenametaskspecification.h"

#include "fileopstesthelpers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fileopstest;

namespace {

class FastFileOpTest : public ::testing::Test
{
protected:
    QString path(const QString &rel) const { return m_Dir.filePath(rel); }

    // Runs a fast operation, which ends inside execute().
    TaskSpecification::TaskState run(TaskSpecification *task, QStringList *messages)
    {
        QObject::connect(task, &TaskSpecification::message,
                         [messages](const QString &m) { messages->append(m); });
        task->execute();
        return task->m_TaskState;
    }

    QTemporaryDir m_Dir;
    QObject m_Parent;
};

TEST_F(FastFileOpTest, DirCreateJournalsEveryLevelParentsFirst)
{
    ASSERT_TRUE(QDir().mkdir(path("x")));
    RollbackDataList journal;
    QStringList messages;
    EXPECT_EQ(
        run(new DirCreateTaskSpecification(path("x/y/z"), &journal, &m_Parent, 1.0), &messages),
        TaskSpecification::FINISHED);
    EXPECT_TRUE(QFileInfo(path("x/y/z")).isDir());
    ASSERT_EQ(journal.size(), 2);
    EXPECT_EQ(journal[0].m_Op, DIR_CREATE);
    EXPECT_EQ(journal[0].m_Path, path("x/y"));
    EXPECT_EQ(journal[1].m_Path, path("x/y/z"));
    EXPECT_TRUE(messages.isEmpty());

    // Existing: nothing to do, nothing journalled, nothing said.
    journal.clear();
    EXPECT_EQ(run(new DirCreateTaskSpecification(path("x/y"), &journal, &m_Parent, 1.0), &messages),
              TaskSpecification::FINISHED);
    EXPECT_TRUE(journal.isEmpty());
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(FastFileOpTest, DirCreateFailures)
{
    ASSERT_TRUE(writeFile(path("file"), "f"));
    struct Case
    {
        QString dir;
        QString expected;
    } cases[] = {
        {path("file"),
         QString("Could not create dir '%1' because it already exists and is not a dir")
             .arg(path("file"))},
        // A file where a parent must go: the deeper level names itself.
        {path("file/sub/dir"),
         QString("Could not create dir '%1' because it already exists and is not a dir")
             .arg(path("file"))},
        {"barename", "Could not create dir barename"},
    };
    for (const Case &c : cases) {
        RollbackDataList journal;
        QStringList messages;
        EXPECT_EQ(run(new DirCreateTaskSpecification(c.dir, &journal, &m_Parent, 1.0), &messages),
                  TaskSpecification::FAILED)
            << c.dir.toStdString();
        EXPECT_EQ(messages, QStringList(c.expected));
        EXPECT_TRUE(journal.isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists("barename"));
}

TEST_F(FastFileOpTest, DeleteHandlesFilesAndDirectories)
{
    ASSERT_TRUE(writeFile(path("a.txt"), "a"));
    ASSERT_TRUE(writeFile(path("full/inner/f"), "f"));
    ASSERT_TRUE(QDir().mkpath(path("outer/empty")));
    ASSERT_TRUE(writeFile(path("keep/f"), "f"));
    struct Case
    {
        QString rel;
        bool mustSucceed;
        bool recursive;
        TaskSpecification::TaskState state;
        QStringList messages;
        QStringList goneAfter;
        QStringList stillThere;
    } cases[] = {
        {"a.txt",
         false,
         false,
         TaskSpecification::FINISHED,
         {QString("Deleted file '%1'").arg(path("a.txt"))},
         {"a.txt"},
         {}},
        // Missing and not required: only a debug line.
        {"missing", false, false, TaskSpecification::FINISHED, {}, {}, {}},
        {"missing",
         true,
         false,
         TaskSpecification::FAILED,
         {QString("Could not delete '%1'").arg(path("missing"))},
         {},
         {}},
        // Not empty, not recursive: refused silently.
        {"keep", false, false, TaskSpecification::FINISHED, {}, {}, {"keep/f"}},
        // The parent that becomes empty goes as well.
        {"outer/empty",
         false,
         false,
         TaskSpecification::FINISHED,
         {QString("Deleted directory '%1'").arg(path("outer/empty"))},
         {"outer"},
         {}},
        {"full",
         false,
         true,
         TaskSpecification::FINISHED,
         {QString("Recursively deleted directory '%1'").arg(path("full"))},
         {"full"},
         {}},
    };
    for (const Case &c : cases) {
        QStringList messages;
        auto *task = new FileDeleteTaskSpecification(c.mustSucceed, path(c.rel), c.recursive,
                                                     &m_Parent, 1.0);
        EXPECT_EQ(run(task, &messages), c.state) << c.rel.toStdString();
        EXPECT_EQ(messages, c.messages) << c.rel.toStdString();
        for (const QString &gone : c.goneAfter)
            EXPECT_FALSE(QFileInfo::exists(path(gone))) << gone.toStdString();
        for (const QString &there : c.stillThere)
            EXPECT_TRUE(QFileInfo::exists(path(there))) << there.toStdString();
    }
}

TEST_F(FastFileOpTest, RenameJournalsAndNeverOverwrites)
{
    ASSERT_TRUE(writeFile(path("src"), "s"));
    ASSERT_TRUE(writeFile(path("taken"), "t"));
    RollbackDataList journal;
    QStringList messages;
    EXPECT_EQ(
        run(new FileRenameTaskSpecification(path("src"), path("taken"), &journal, &m_Parent, 1.0),
            &messages),
        TaskSpecification::FAILED);
    EXPECT_EQ(
        messages,
        QStringList(QString("Could not rename '%1' to '%2'").arg(path("src"), path("taken"))));
    EXPECT_EQ(readFile(path("taken")), "t");
    EXPECT_TRUE(journal.isEmpty());

    messages.clear();
    EXPECT_EQ(run(new FileRenameTaskSpecification(path("src"), path("newdir/dst"), &journal,
                                                  &m_Parent, 1.0),
                  &messages),
              TaskSpecification::FINISHED);
    EXPECT_EQ(readFile(path("newdir/dst")), "s");
    ASSERT_EQ(journal.size(), 1);
    EXPECT_EQ(journal[0].m_Op, FILE_RENAME);
    EXPECT_EQ(journal[0].m_RestorePath, path("src"));
    EXPECT_EQ(journal[0].m_Path, path("newdir/dst"));
}

} // namespace
