#pragma once

#include <QObject>
#include <QString>
#include <QtGlobal>

// One unit of update work. A task lives on the GUI thread, is started once by
// its parent with execute(), reports through signals and ends by emitting
// exactly one of finished() or canceled().
//
// The fields are public because parents read the state and progress of their
// subtasks, and the owner of the root reads its state after canceled() to tell
// a failure from a user's cancel.
class TaskSpecification : public QObject
{
    Q_OBJECT
public:
    enum TaskState : qint32
    {
        NOT_STARTED = 0,
        RUNNING = 1,
        FINISHED = 2,
        // Ended by an error, a failed subtask or a failed sibling.
        FAILED = 3,
        // Ended because cancellation was requested.
        CANCELED = 4
    };

    TaskSpecification(QObject *parent, qreal weight);

    // Starts the work and sets RUNNING.
    virtual void execute() = 0;
    // Back to NOT_STARTED with no progress; emits updateProgress(0).
    virtual void reset();
    // Download counters in bytes; leaves that do not download report zeros.
    virtual void getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                                     bool &downloading);
    // Only records the request. Tasks whose running work can stop override it.
    virtual void cancel();
    // A sibling ended through canceled() while this task runs.
    virtual void handleOtherTaskCancelled(TaskSpecification *other);

    bool m_CancelRequested;
    // This task's share of its parent's progress.
    const qreal m_Weight;
    // Progress in weight units, 0 ... m_Weight.
    qreal m_Progress;
    TaskState m_TaskState;

signals:
    void finished(TaskSpecification *task);
    // The task ended FAILED or CANCELED; read m_TaskState to tell which.
    void canceled(TaskSpecification *task);
    void error(QString errorMessage);
    // The new m_Progress, in weight units.
    void updateProgress(qreal doneFrac);
    void message(QString message);
    void otherTaskCancelled(TaskSpecification *task);

public slots:
    void onOtherTaskCancelled(TaskSpecification *other);

protected:
    void setProgressFraction(qreal f);
    void setFinished();
    void setFailed();
    void setCanceled();
};
