#include "rollback.h"

#include "fileopstesthelpers.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fileopstest;

namespace {

// Stands in for a task: the journal reports its warnings through a signal
// named message(QString).
class MessageTarget : public QObject
{
    Q_OBJECT
signals:
    void message(QString message);
};

class RollbackTest : public ::testing::Test
{
protected:
    QString path(const QString &rel) const { return m_Dir.filePath(rel); }

    QStringList rollback(RollbackDataList &list, bool *result = nullptr)
    {
        QSignalSpy spy(&m_Target, &MessageTarget::message);
        const bool ok = rollbackAll(list, &m_Target);
        if (result)
            *result = ok;
        QStringList lines;
        for (const QList<QVariant> &args : spy)
            lines << args.at(0).toString();
        return lines;
    }

    QTemporaryDir m_Dir;
    MessageTarget m_Target;
};

TEST_F(RollbackTest, UndoesNewestFirstSoAFileGoesBeforeItsDirectory)
{
    ASSERT_TRUE(QDir().mkdir(path("d")));
    ASSERT_TRUE(writeFile(path("d/f"), "x"));
    RollbackDataList list{RollbackData(DIR_CREATE, path("d")),
                          RollbackData(FILE_CREATE, path("d/f"))};
    bool ok = false;
    EXPECT_TRUE(rollback(list, &ok).isEmpty());
    EXPECT_TRUE(ok);
    EXPECT_FALSE(QFileInfo::exists(path("d")));
    EXPECT_TRUE(list.isEmpty());
}

TEST_F(RollbackTest, FailedUndoIsReportedAndTheWalkGoesOn)
{
    // A directory that gained a file, a file that is already gone, and a
    // rename whose source name has been taken again: all three fail, and the
    // records before them are still undone.
    ASSERT_TRUE(QDir().mkdir(path("d")));
    ASSERT_TRUE(writeFile(path("d/other"), "o"));
    ASSERT_TRUE(writeFile(path("first"), "1"));
    ASSERT_TRUE(writeFile(path("x"), "x-again"));
    ASSERT_TRUE(writeFile(path("y"), "y"));
    RollbackDataList list{
        RollbackData(FILE_CREATE, path("first")), RollbackData(DIR_CREATE, path("d")),
        RollbackData(FILE_CREATE, path("gone")), RollbackData(FILE_RENAME, path("x"), path("y"))};
    bool ok = true;
    const QStringList lines = rollback(list, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(list.isEmpty());
    EXPECT_EQ(
        lines,
        QStringList({QString("warning: rollback rename %1 to %2 failed").arg(path("x"), path("y")),
                     QString("warning: rollback create file %1 failed").arg(path("gone")),
                     QString("warning: rollback create dir %1 failed").arg(path("d"))}));
    EXPECT_TRUE(QFileInfo::exists(path("d/other")));
    EXPECT_FALSE(QFileInfo::exists(path("first")));
    EXPECT_EQ(readFile(path("x")), "x-again");

    // Emptied, so a second walk (a reset after a failed run) does nothing.
    EXPECT_TRUE(rollback(list, &ok).isEmpty());
    EXPECT_TRUE(ok);
}

TEST_F(RollbackTest, ReplacedFileComesBackWithItsContentAndMode)
{
    // The journal of a replacement: new content written beside the target,
    // the target moved aside, the new content renamed onto the target.
    const QString target = path("prog");
    ASSERT_TRUE(writeFile(target, "old content"));
    ASSERT_TRUE(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const Snapshot before = snapshot(m_Dir.path());

    RollbackDataList list;
    ASSERT_TRUE(writeFile(target + ".new", "new content"));
    list << RollbackData(FILE_CREATE, target + ".new");
    ASSERT_TRUE(QFile::rename(target, target + ".old"));
    list << RollbackData(FILE_RENAME, target, target + ".old");
    ASSERT_TRUE(QFile::rename(target + ".new", target));
    list << RollbackData(FILE_RENAME, target + ".new", target);

    bool ok = false;
    EXPECT_TRUE(rollback(list, &ok).isEmpty());
    EXPECT_TRUE(ok);
    EXPECT_EQ(diffSnapshots(before, snapshot(m_Dir.path())), QStringList());
}

TEST_F(RollbackTest, TargetWithoutMessageSignalOnlyLosesTheWarning)
{
    QObject plain;
    RollbackDataList list{RollbackData(FILE_CREATE, path("missing"))};
    EXPECT_FALSE(rollbackAll(list, &plain));
    EXPECT_TRUE(list.isEmpty());
    list << RollbackData(FILE_CREATE, path("missing"));
    EXPECT_FALSE(rollbackAll(list, nullptr));
    EXPECT_TRUE(list.isEmpty());
}

} // namespace

#include "rollback_test.moc"
