#include "configuration.h"
#include "downloadreplacelists.h"
#include "filedeletelisttaskspecification.h"

#include "fileopstesthelpers.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fileopstest;

namespace {

TEST(FileDeleteListTest, RunsEntriesInOrderWithEqualShares)
{
    QTemporaryDir m_Dir;
    auto path = [&](const QString &rel) { return m_Dir.filePath(rel); };
    ASSERT_TRUE(writeFile(path("inst/one"), "1"));
    ASSERT_TRUE(writeFile(path("inst/dir/two"), "2"));
    Configuration config;
    config.m_InstallDir = path("inst");
    QList<DeleteEntry> list{{"one", false}, {"absent", false}, {"dir", true}};
    FileDeleteListTaskSpecification task(&list, &config, nullptr, 1.0);

    QStringList messages;
    ASSERT_TRUE(runTask(&task, &messages));
    EXPECT_EQ(task.m_TaskState, TaskSpecification::FINISHED);
    ASSERT_EQ(task.m_Subtasks.size(), 3);
    for (TaskSpecification *sub : task.m_Subtasks)
        EXPECT_DOUBLE_EQ(sub->m_Weight, 1.0 / 3);
    EXPECT_EQ(
        messages,
        QStringList({"Starting deleting files", QString("Deleted file '%1'").arg(path("inst/one")),
                     QString("Recursively deleted directory '%1'").arg(path("inst/dir"))}));
    EXPECT_EQ(snapshot(path("inst")).keys(), QStringList());
}

} // namespace
