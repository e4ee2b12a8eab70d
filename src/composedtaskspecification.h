#pragma once

#include "taskspecification.h"

#include <QList>

// A task made of an ordered list of subtasks, run with at most m_MaxParallel
// of them at a time. Its progress is the weighted sum of its subtasks'
// progress. When a subtask ends through canceled(), no further subtask is
// started, the running siblings are told, and this task ends once nothing runs
// any more.
//
// Subclasses create their subtasks in execute() with this task as parent,
// call addSubtask() for each in the order they must run, then startSubtasks().
class ComposedTaskSpecification : public TaskSpecification
{
    Q_OBJECT
public:
    ComposedTaskSpecification(int maxParallel, QObject *parent, qreal weight);
    ~ComposedTaskSpecification() override;

    void reset() override;
    // Sums the counters of the subtasks into the (zeroed) arguments; a subtask
    // that knows no total contributes its speed and flag but not its done bytes.
    void getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                             bool &downloading) override;
    // Passes the request on to every subtask while this task runs.
    void cancel() override;
    // Passes the notice on to this task's own subtasks.
    void handleOtherTaskCancelled(TaskSpecification *other) override;

    // Called once when no subtask runs any more and none will be started; ends
    // the task according to collectSubtaskState().
    virtual void subtasksDone();
    virtual void connectSubtask(TaskSpecification *sub);

    void addSubtask(TaskSpecification *sub);
    // Disconnects every subtask, schedules its deletion and empties the lists.
    void clearSubtasks();
    // Sets RUNNING and requests the first starts (or ends at once when there is
    // nothing to start).
    void startSubtasks();
    // FAILED if a subtask failed, else CANCELED if one was canceled, else
    // FINISHED if all finished; otherwise what this task's own flags say.
    TaskState collectSubtaskState() const;

    QList<TaskSpecification *> m_Subtasks;
    QList<TaskSpecification *> m_Pending;
    QList<TaskSpecification *> m_Running;
    QList<TaskSpecification *> m_Done;
    int m_MaxParallel;
    bool m_SubtaskCanceled;
    bool m_DoneReported;

signals:
    // Queued to onStartNextTask(), so a subtask is always started from the
    // event loop and never from inside the handler of the one before it.
    void startNextTask();

private slots:
    void onStartNextTask();
    void onUpdateProgress(qreal doneFrac);
    void onSubTaskFinished(TaskSpecification *sub);
    void onSubTaskCanceled(TaskSpecification *sub);

private:
    void reportDone();
};
