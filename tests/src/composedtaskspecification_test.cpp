#include "composedtaskspecification.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QStringList>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>

void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

using State = TaskSpecification::TaskState;

// A leaf whose end the test decides. It records its name in a shared journal
// when it starts and when a sibling's failure reaches it.
class LeafTask : public TaskSpecification
{
    Q_OBJECT
public:
    enum OnCancel
    {
        IGNORE_CANCEL,
        END_CANCELED
    };

    LeafTask(const QString &name, QStringList *journal, QObject *parent, qreal weight = 0.1)
        : TaskSpecification(parent, weight), m_Name(name), m_Journal(journal)
    {
        setObjectName(name);
    }

    void execute() override
    {
        m_TaskState = RUNNING;
        ++m_Executions;
        m_Journal->append("start " + m_Name);
        if (m_OnExecute)
            m_OnExecute(this);
    }
    void cancel() override
    {
        TaskSpecification::cancel();
        if (m_OnCancel == END_CANCELED && m_TaskState == RUNNING)
            setCanceled();
    }
    void handleOtherTaskCancelled(TaskSpecification *other) override
    {
        m_Journal->append(m_Name + " told about " + other->objectName());
    }
    void getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                             bool &downloading) override
    {
        done = m_Done;
        total = m_Total;
        speed = m_Speed;
        downloading = m_Downloading;
    }

    void finish() { setFinished(); }
    void fail() { setFailed(); }
    void endCanceled() { setCanceled(); }
    void progress(qreal f) { setProgressFraction(f); }

    QString m_Name;
    QStringList *m_Journal;
    int m_Executions = 0;
    OnCancel m_OnCancel = IGNORE_CANCEL;
    std::function<void(LeafTask *)> m_OnExecute;
    quint64 m_Done = 0, m_Total = 0, m_Speed = 0;
    bool m_Downloading = false;
};

// A composed task whose subtasks the test adds before execute().
class TreeTask : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    TreeTask(int maxParallel, QObject *parent = nullptr, qreal weight = 1.0)
        : ComposedTaskSpecification(maxParallel, parent, weight)
    {
    }
    void execute() override { startSubtasks(); }
};

void drainEvents()
{
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
}

class ComposedTaskTest : public ::testing::Test
{
protected:
    LeafTask *addLeaf(ComposedTaskSpecification *parent, const QString &name, qreal weight = 0.1)
    {
        auto *leaf = new LeafTask(name, &m_Journal, parent, weight);
        parent->addSubtask(leaf);
        return leaf;
    }
    QList<LeafTask *> addLeaves(ComposedTaskSpecification *parent, int n)
    {
        QList<LeafTask *> leaves;
        for (int i = 0; i < n; ++i)
            leaves.append(addLeaf(parent, QString("t%1").arg(i + 1)));
        return leaves;
    }
    // Records the ending signals of a task in the journal, in emission order.
    void watchEnd(TaskSpecification *task, const QString &name)
    {
        QObject::connect(task, &TaskSpecification::finished,
                         [this, name] { m_Journal.append(name + " finished"); });
        QObject::connect(task, &TaskSpecification::canceled,
                         [this, name] { m_Journal.append(name + " canceled"); });
    }

    QStringList m_Journal;
};

TEST_F(ComposedTaskTest, EmptyTaskFinishesInsideStartWithFullProgressFirst)
{
    TreeTask tree(1, nullptr, 0.7);
    QObject::connect(&tree, &TaskSpecification::updateProgress,
                     [&](qreal p) { m_Journal.append(QString("progress %1").arg(p)); });
    watchEnd(&tree, "tree");
    QSignalSpy finished(&tree, &TaskSpecification::finished);

    tree.execute();

    EXPECT_EQ(tree.m_TaskState, TaskSpecification::FINISHED);
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).value<TaskSpecification *>(), &tree);
    EXPECT_EQ(m_Journal, (QStringList{"progress 0.7", "tree finished"}));
}

TEST_F(ComposedTaskTest, OneSlotRunsSubtasksInOrderFromTheEventLoop)
{
    TreeTask tree(1);
    const QList<LeafTask *> leaves = addLeaves(&tree, 3);
    // The first subtask ends inside its own execute(); the next one must still
    // be started from the event loop, not from inside that call.
    bool insideExecute = false;
    bool nestedStart = false;
    leaves[0]->m_OnExecute = [&](LeafTask *t) {
        insideExecute = true;
        t->finish();
        insideExecute = false;
    };
    leaves[1]->m_OnExecute = [&](LeafTask *) { nestedStart = insideExecute; };
    watchEnd(&tree, "tree");

    tree.execute();
    EXPECT_EQ(tree.m_TaskState, TaskSpecification::RUNNING);
    EXPECT_TRUE(m_Journal.isEmpty()) << "subtasks start only from the event loop";

    drainEvents();
    EXPECT_FALSE(nestedStart);
    EXPECT_EQ(tree.m_Running, QList<TaskSpecification *>{leaves[1]});
    leaves[1]->finish();
    drainEvents();
    EXPECT_EQ(tree.m_Running, QList<TaskSpecification *>{leaves[2]});
    leaves[2]->finish();
    drainEvents();

    EXPECT_EQ(m_Journal, (QStringList{"start t1", "start t2", "start t3", "tree finished"}));
    EXPECT_EQ(tree.m_TaskState, TaskSpecification::FINISHED);
    EXPECT_EQ(tree.m_Done, (QList<TaskSpecification *>{leaves[0], leaves[1], leaves[2]}));
}

TEST_F(ComposedTaskTest, TwoSlotsKeepTwoRunningUntilFewerRemain)
{
    TreeTask tree(2);
    const QList<LeafTask *> leaves = addLeaves(&tree, 5);
    tree.execute();
    drainEvents();

    // Finish them out of order; after each end exactly one new one starts.
    const QList<int> endOrder = {1, 0, 2, 4, 3};
    const QList<int> runningAfter = {2, 2, 2, 1, 0};
    EXPECT_EQ(tree.m_Running, (QList<TaskSpecification *>{leaves[0], leaves[1]}));
    for (int i = 0; i < endOrder.size(); ++i) {
        leaves[endOrder[i]]->finish();
        drainEvents();
        EXPECT_EQ(tree.m_Running.size(), runningAfter[i]) << "after ending t" << endOrder[i] + 1;
    }
    EXPECT_EQ(m_Journal, (QStringList{"start t1", "start t2", "start t3", "start t4", "start t5"}));
    EXPECT_EQ(tree.m_TaskState, TaskSpecification::FINISHED);
}

TEST_F(ComposedTaskTest, NoSlotsWithPendingWorkFailsAtOnce)
{
    TreeTask tree(0);
    const QList<LeafTask *> leaves = addLeaves(&tree, 2);
    QSignalSpy canceled(&tree, &TaskSpecification::canceled);
    tree.execute();
    EXPECT_EQ(tree.m_TaskState, TaskSpecification::FAILED);
    drainEvents();
    EXPECT_EQ(canceled.count(), 1);
    EXPECT_EQ(leaves[0]->m_Executions + leaves[1]->m_Executions, 0);
}

TEST_F(ComposedTaskTest, FailedSubtaskStopsLaterSiblings)
{
    TreeTask tree(1);
    const QList<LeafTask *> leaves = addLeaves(&tree, 3);
    QSignalSpy finished(&tree, &TaskSpecification::finished);
    QSignalSpy canceled(&tree, &TaskSpecification::canceled);
    tree.execute();
    drainEvents();
    leaves[0]->finish();
    drainEvents();
    leaves[1]->fail();
    drainEvents();

    EXPECT_EQ(tree.m_TaskState, TaskSpecification::FAILED);
    EXPECT_EQ(leaves[2]->m_TaskState, TaskSpecification::NOT_STARTED);
    EXPECT_EQ(leaves[2]->m_Executions, 0);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_EQ(canceled.count(), 1);
    // Neither the failed task itself nor the one that never ran hears about it.
    EXPECT_EQ(m_Journal, (QStringList{"start t1", "start t2"}));
}

TEST_F(ComposedTaskTest, FailureWaitsForRunningSiblingAndOutranksItsSuccess)
{
    TreeTask tree(2);
    const QList<LeafTask *> leaves = addLeaves(&tree, 3);
    QSignalSpy errors(&tree, &TaskSpecification::error);
    QSignalSpy messages(&tree, &TaskSpecification::message);
    watchEnd(&tree, "tree");
    tree.execute();
    drainEvents();

    emit leaves[1]->message("t2 log line");
    emit leaves[1]->error("t2 broke");
    leaves[1]->fail();
    drainEvents();
    EXPECT_EQ(tree.m_TaskState, TaskSpecification::RUNNING) << "t1 still runs";
    leaves[0]->fail(); // a second failure is recorded but not announced again
    drainEvents();

    EXPECT_EQ(m_Journal,
              (QStringList{"start t1", "start t2", "t1 told about t2", "tree canceled"}));
    EXPECT_EQ(tree.m_TaskState, TaskSpecification::FAILED);
    EXPECT_EQ(leaves[2]->m_Executions, 0);
    ASSERT_EQ(errors.count(), 1);
    EXPECT_EQ(errors.at(0).at(0).toString(), "t2 broke");
    ASSERT_EQ(messages.count(), 1);
    EXPECT_EQ(messages.at(0).at(0).toString(), "t2 log line");
}

TEST_F(ComposedTaskTest, SiblingThatFinishesAfterAFailureStartsNothingAndParentFails)
{
    TreeTask tree(2);
    const QList<LeafTask *> leaves = addLeaves(&tree, 3);
    tree.execute();
    drainEvents();
    leaves[0]->fail();
    drainEvents();
    leaves[1]->finish(); // frees a slot, which must stay empty
    drainEvents();
    EXPECT_EQ(leaves[2]->m_Executions, 0);
    EXPECT_EQ(tree.m_TaskState, TaskSpecification::FAILED);
}

TEST_F(ComposedTaskTest, FailureTravelsUpAndTheNoticeTravelsDown)
{
    TreeTask root(2);
    auto *a = new TreeTask(1, &root, 0.5);
    auto *b = new TreeTask(1, &root, 0.5);
    b->setObjectName("b");
    root.addSubtask(a);
    root.addSubtask(b);
    LeafTask *a1 = addLeaf(a, "a1");
    LeafTask *b1 = addLeaf(b, "b1");
    watchEnd(&root, "root");
    watchEnd(a, "a");
    watchEnd(b, "b");
    root.execute();
    drainEvents();

    b1->fail();
    drainEvents();
    // a1 runs in the other branch; the notice names the failed sibling of a.
    EXPECT_TRUE(m_Journal.contains("a1 told about b")) << m_Journal.join(", ").toStdString();
    EXPECT_EQ(a1->m_TaskState, TaskSpecification::RUNNING);
    EXPECT_EQ(root.m_TaskState, TaskSpecification::RUNNING);
    a1->finish();
    drainEvents();

    // The parent hears of b's end before the test's own watcher does.
    EXPECT_EQ(m_Journal, (QStringList{"start a1", "start b1", "a1 told about b", "b canceled",
                                      "a finished", "root canceled"}));
    EXPECT_EQ(root.m_TaskState, TaskSpecification::FAILED);
}

TEST_F(ComposedTaskTest, NoticeFromAFailedBranchReachesLeavesOfTheOtherBranch)
{
    TreeTask root(2);
    auto *a = new TreeTask(1, &root, 0.5);
    root.addSubtask(a);
    LeafTask *b = addLeaf(&root, "b");
    LeafTask *a1 = addLeaf(a, "a1");
    root.execute();
    drainEvents();
    b->fail();
    drainEvents();
    // a passes the notice on; the leaf sees the task that failed at root level.
    EXPECT_TRUE(m_Journal.contains("a1 told about b")) << m_Journal.join(", ").toStdString();
    a1->finish();
    drainEvents();
    EXPECT_EQ(root.m_TaskState, TaskSpecification::FAILED);
}

TEST_F(ComposedTaskTest, CancelWithPendingWorkEndsCanceledWithoutStartingIt)
{
    TreeTask tree(1);
    const QList<LeafTask *> leaves = addLeaves(&tree, 2);
    tree.execute();
    drainEvents();
    tree.cancel();
    EXPECT_EQ(tree.m_TaskState, TaskSpecification::RUNNING) << "cancel() alone changes nothing";
    EXPECT_TRUE(leaves[0]->m_CancelRequested);
    EXPECT_TRUE(leaves[1]->m_CancelRequested) << "every subtask hears it, whatever its state";
    leaves[0]->finish();
    drainEvents();
    EXPECT_EQ(tree.m_TaskState, TaskSpecification::CANCELED);
    EXPECT_EQ(leaves[1]->m_Executions, 0);
}

TEST_F(ComposedTaskTest, CancelAfterTheLastSubtaskStartedStillFinishes)
{
    TreeTask tree(1);
    const QList<LeafTask *> leaves = addLeaves(&tree, 2);
    tree.execute();
    drainEvents();
    leaves[0]->finish();
    drainEvents();
    tree.cancel();
    leaves[1]->finish();
    drainEvents();
    EXPECT_EQ(tree.m_TaskState, TaskSpecification::FINISHED);
}

TEST_F(ComposedTaskTest, CancelBeforeTheQueuedStartsArriveStartsNothing)
{
    TreeTask tree(2);
    const QList<LeafTask *> leaves = addLeaves(&tree, 2);
    QSignalSpy canceled(&tree, &TaskSpecification::canceled);
    tree.execute();
    tree.cancel();
    drainEvents();
    EXPECT_EQ(leaves[0]->m_Executions + leaves[1]->m_Executions, 0);
    EXPECT_EQ(tree.m_TaskState, TaskSpecification::CANCELED);
    EXPECT_EQ(canceled.count(), 1) << "subtasksDone() runs once for both queued starts";
}

TEST_F(ComposedTaskTest, SubtasksEndingInsideCancelAreHandledOnce)
{
    TreeTask tree(3);
    const QList<LeafTask *> leaves = addLeaves(&tree, 3);
    for (LeafTask *leaf : leaves)
        leaf->m_OnCancel = LeafTask::END_CANCELED;
    QSignalSpy canceled(&tree, &TaskSpecification::canceled);
    tree.execute();
    drainEvents();
    // Each leaf re-enters the parent synchronously from inside the loop.
    tree.cancel();
    drainEvents();
    EXPECT_EQ(tree.m_TaskState, TaskSpecification::CANCELED);
    EXPECT_EQ(canceled.count(), 1);
    EXPECT_EQ(tree.m_Done.size(), 3);
    // The first one to end canceled is announced to the others, which by then
    // have been asked to cancel but are still running.
    EXPECT_TRUE(m_Journal.contains("t2 told about t1"));
}

TEST_F(ComposedTaskTest, CancelOfATaskThatDoesNotRunIsOnlyRecorded)
{
    TreeTask tree(1);
    const QList<LeafTask *> leaves = addLeaves(&tree, 1);
    QSignalSpy canceled(&tree, &TaskSpecification::canceled);
    tree.cancel();
    EXPECT_TRUE(tree.m_CancelRequested);
    EXPECT_FALSE(leaves[0]->m_CancelRequested);
    EXPECT_EQ(tree.m_TaskState, TaskSpecification::NOT_STARTED);
    EXPECT_EQ(canceled.count(), 0);
}

TEST_F(ComposedTaskTest, RepeatedCanceledFromOneSubtaskIsTolerated)
{
    TreeTask tree(1);
    const QList<LeafTask *> leaves = addLeaves(&tree, 2);
    QSignalSpy canceled(&tree, &TaskSpecification::canceled);
    tree.execute();
    drainEvents();
    leaves[0]->fail();
    leaves[0]->fail();
    drainEvents();
    EXPECT_EQ(canceled.count(), 1);
    EXPECT_EQ(tree.m_Done, (QList<TaskSpecification *>{leaves[0], leaves[0]}));
    EXPECT_EQ(leaves[1]->m_Executions, 0);
}

TEST_F(ComposedTaskTest, StateWalk)
{
    struct Row
    {
        QList<State> subtasks;
        bool cancelRequested;
        bool subtaskCanceled;
        State expected;
    };
    const State NS = TaskSpecification::NOT_STARTED, RU = TaskSpecification::RUNNING,
                FI = TaskSpecification::FINISHED, FA = TaskSpecification::FAILED,
                CA = TaskSpecification::CANCELED;
    const QList<Row> rows = {
        {{}, false, false, FI},       {{FI, FI}, true, true, FI},   {{FI, CA}, false, false, CA},
        {{CA, FA}, false, false, FA}, {{FA, CA}, true, false, FA},  {{FI, NS}, true, true, CA},
        {{FI, NS}, false, true, FA},  {{FI, RU}, false, false, RU},
    };
    for (int i = 0; i < rows.size(); ++i) {
        TreeTask tree(1);
        for (State s : rows[i].subtasks)
            addLeaf(&tree, "t")->m_TaskState = s;
        tree.m_CancelRequested = rows[i].cancelRequested;
        tree.m_SubtaskCanceled = rows[i].subtaskCanceled;
        EXPECT_EQ(tree.collectSubtaskState(), rows[i].expected) << "row " << i;
    }
}

TEST_F(ComposedTaskTest, ProgressIsTheWeightedSumOfSubtasks)
{
    TreeTask tree(2, nullptr, 0.4);
    const QList<LeafTask *> leaves = {addLeaf(&tree, "t1", 0.5), addLeaf(&tree, "t2", 0.5)};
    QSignalSpy progress(&tree, &TaskSpecification::updateProgress);
    tree.execute();
    drainEvents();

    leaves[0]->finish();
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_DOUBLE_EQ(progress.last().at(0).toReal(), 0.2);
    leaves[1]->progress(0.5);
    EXPECT_DOUBLE_EQ(progress.last().at(0).toReal(), 0.4 * (0.5 + 0.25));
    EXPECT_DOUBLE_EQ(leaves[1]->m_Progress, 0.25);
    leaves[1]->finish();
    drainEvents();
    EXPECT_DOUBLE_EQ(tree.m_Progress, 0.4);
    EXPECT_DOUBLE_EQ(progress.last().at(0).toReal(), 0.4);
}

TEST_F(ComposedTaskTest, DownloadCountersSkipDoneBytesOfSubtasksWithoutTotal)
{
    TreeTask tree(1);
    LeafTask *known = addLeaf(&tree, "known");
    known->m_Done = 100;
    known->m_Total = 400;
    known->m_Speed = 10;
    LeafTask *unknown = addLeaf(&tree, "unknown");
    unknown->m_Done = 50;
    unknown->m_Speed = 7;
    unknown->m_Downloading = true;
    auto *nested = new TreeTask(1, &tree, 0.1);
    tree.addSubtask(nested);
    LeafTask *deep = addLeaf(nested, "deep");
    deep->m_Done = 1;
    deep->m_Total = 2;
    deep->m_Speed = 3;

    quint64 done = 0, total = 0, speed = 0;
    bool downloading = false;
    tree.getDownloadProgress(done, total, speed, downloading);
    EXPECT_EQ(done, 101u);
    EXPECT_EQ(total, 402u);
    EXPECT_EQ(speed, 20u);
    EXPECT_TRUE(downloading);

    unknown->m_Downloading = false;
    done = total = speed = 0;
    tree.getDownloadProgress(done, total, speed, downloading);
    EXPECT_FALSE(downloading);
}

TEST_F(ComposedTaskTest, ResetRestoresAFreshRun)
{
    TreeTask tree(1);
    const QList<LeafTask *> leaves = addLeaves(&tree, 2);
    tree.execute();
    drainEvents();
    leaves[0]->fail();
    drainEvents();
    ASSERT_EQ(tree.m_TaskState, TaskSpecification::FAILED);

    tree.cancel();
    QSignalSpy progress(&tree, &TaskSpecification::updateProgress);
    tree.reset();
    EXPECT_FALSE(tree.m_CancelRequested);
    EXPECT_FALSE(tree.m_SubtaskCanceled);
    EXPECT_FALSE(tree.m_DoneReported);
    EXPECT_EQ(tree.m_Progress, 0.0);
    EXPECT_EQ(tree.m_TaskState, TaskSpecification::NOT_STARTED);
    EXPECT_EQ(leaves[0]->m_TaskState, TaskSpecification::NOT_STARTED);
    EXPECT_EQ(tree.m_Pending, tree.m_Subtasks);
    EXPECT_TRUE(tree.m_Running.isEmpty());
    EXPECT_TRUE(tree.m_Done.isEmpty());
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_EQ(progress.last().at(0).toReal(), 0.0);

    tree.execute();
    drainEvents();
    leaves[0]->finish();
    drainEvents();
    leaves[1]->finish();
    drainEvents();
    EXPECT_EQ(tree.m_TaskState, TaskSpecification::FINISHED);
    EXPECT_EQ(leaves[0]->m_Executions, 2);
}

TEST_F(ComposedTaskTest, ClearSubtasksCutsThemOffAndDeletesThem)
{
    TreeTask tree(1);
    QPointer<LeafTask> leaf = addLeaf(&tree, "t1");
    QSignalSpy messages(&tree, &TaskSpecification::message);
    tree.clearSubtasks();
    emit leaf->message("after clear");
    EXPECT_EQ(messages.count(), 0);
    EXPECT_TRUE(tree.m_Subtasks.isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(leaf.isNull());
}

} // namespace

#include "composedtaskspecification_test.moc"
