#include "asyncfunc.h"
#include "asynctaskspecification.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStringList>
#include <QThread>
#include <QThreadPool>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>

namespace {

// What a scripted body saw and did, shared with the test.
struct BodyTrace
{
    std::atomic<QThread *> thread{nullptr};
    std::atomic<bool> deleted{false};
    QSemaphore release;
    bool waitForRelease = false;
};

class ScriptedFunc : public ASyncFunc
{
    Q_OBJECT
public:
    ScriptedFunc(BodyTrace *trace, std::function<bool(ScriptedFunc *)> script)
        : m_Trace(trace), m_Script(std::move(script))
    {
    }
    ~ScriptedFunc() override { m_Trace->deleted = true; }

    bool run() override
    {
        m_Trace->thread = QThread::currentThread();
        if (m_Trace->waitForRelease)
            m_Trace->release.acquire();
        return m_Script(this);
    }

    void say(const QString &text) { emit message(text); }
    void complain(const QString &text) { emit error(text); }
    void advance(qreal f) { emit progress(f); }

private:
    BodyTrace *m_Trace;
    std::function<bool(ScriptedFunc *)> m_Script;
};

class ScriptedTask : public ASyncTaskSpecification
{
    Q_OBJECT
public:
    ScriptedTask(BodyTrace *trace, std::function<bool(ScriptedFunc *)> script, qreal weight = 1.0)
        : ASyncTaskSpecification(nullptr, weight), m_Trace(trace), m_Script(std::move(script))
    {
    }
    ASyncFunc *createFunc() override { return new ScriptedFunc(m_Trace, m_Script); }

private:
    BodyTrace *m_Trace;
    std::function<bool(ScriptedFunc *)> m_Script;
};

// Runs the event loop until the task left RUNNING (or a generous limit).
void waitUntilEnded(TaskSpecification *task)
{
    for (int i = 0; i < 500 && task->m_TaskState == TaskSpecification::RUNNING; ++i) {
        QThreadPool::globalInstance()->waitForDone(10);
        QCoreApplication::processEvents();
    }
}

TEST(ASyncTaskTest, BodyRunsOnThePoolAndReportsInOrderBeforeItsResult)
{
    BodyTrace trace;
    ScriptedTask task(
        &trace,
        [](ScriptedFunc *f) {
            f->say("first");
            f->advance(0.5);
            f->complain("trouble");
            f->say("second");
            return true;
        },
        0.2);
    QStringList journal;
    // Everything reaches the task on the GUI thread.
    int offThread = 0;
    auto noteThread = [&] { offThread += QThread::currentThread() != qApp->thread(); };
    QObject::connect(&task, &TaskSpecification::message, noteThread);
    QObject::connect(&task, &TaskSpecification::updateProgress, noteThread);
    QObject::connect(&task, &TaskSpecification::finished, noteThread);
    QObject::connect(&task, &TaskSpecification::message,
                     [&](const QString &m) { journal.append("message " + m); });
    QObject::connect(&task, &TaskSpecification::error,
                     [&](const QString &m) { journal.append("error " + m); });
    QObject::connect(&task, &TaskSpecification::updateProgress,
                     [&](qreal p) { journal.append(QString("progress %1").arg(p)); });
    QObject::connect(&task, &TaskSpecification::finished, [&] { journal.append("finished"); });

    task.execute();
    EXPECT_EQ(task.m_TaskState, TaskSpecification::RUNNING);
    waitUntilEnded(&task);

    EXPECT_EQ(task.m_TaskState, TaskSpecification::FINISHED);
    EXPECT_NE(trace.thread.load(), QThread::currentThread());
    EXPECT_EQ(offThread, 0);
    QThreadPool::globalInstance()->waitForDone();
    EXPECT_TRUE(trace.deleted) << "the runner deletes the body";
    EXPECT_EQ(journal, (QStringList{"message first", "progress 0.1", "error trouble",
                                    "message second", "progress 0.2", "finished"}));
}

TEST(ASyncTaskTest, SilentFalseResultFailsWithoutMessage)
{
    BodyTrace trace;
    ScriptedTask task(&trace, [](ScriptedFunc *) { return false; });
    QSignalSpy messages(&task, &TaskSpecification::message);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    task.execute();
    waitUntilEnded(&task);
    EXPECT_EQ(task.m_TaskState, TaskSpecification::FAILED);
    EXPECT_EQ(canceled.count(), 1);
    EXPECT_EQ(messages.count(), 0);
}

TEST(ASyncTaskTest, CancelDoesNotShortenARunningBody)
{
    BodyTrace trace;
    trace.waitForRelease = true;
    ScriptedTask task(&trace, [](ScriptedFunc *) { return true; });
    task.execute();
    task.cancel();
    task.handleOtherTaskCancelled(&task);
    EXPECT_EQ(task.m_TaskState, TaskSpecification::RUNNING);
    trace.release.release();
    waitUntilEnded(&task);
    EXPECT_EQ(task.m_TaskState, TaskSpecification::FINISHED);
    EXPECT_TRUE(task.m_CancelRequested);
}

TEST(ASyncTaskTest, LateResultChangesNothing)
{
    // A result that arrives after a reset: reset() waits for the pool, so the
    // result is already queued when the state goes back to NOT_STARTED.
    BodyTrace trace;
    ScriptedTask task(&trace, [](ScriptedFunc *) { return false; });
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    task.execute();
    task.reset();
    EXPECT_TRUE(trace.deleted);
    QCoreApplication::processEvents();
    EXPECT_EQ(task.m_TaskState, TaskSpecification::NOT_STARTED);
    EXPECT_EQ(canceled.count(), 0);

    // A result for a task that already ended.
    task.execute();
    waitUntilEnded(&task);
    ASSERT_EQ(task.m_TaskState, TaskSpecification::FAILED);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    task.onRunResult(true);
    EXPECT_EQ(task.m_TaskState, TaskSpecification::FAILED);
    EXPECT_EQ(finished.count(), 0);
}

} // namespace

#include "asynctaskspecification_test.moc"
