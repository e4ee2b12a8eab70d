#include "composedtaskspecification.h"

// Calls made inside the loops below can re-enter this task's slots
// synchronously (a subtask that ends inside cancel() reaches
// onSubTaskCanceled before the loop goes on), so every loop walks a copy of
// the subtask list taken before it starts.

ComposedTaskSpecification::ComposedTaskSpecification(int maxParallel, QObject *parent, qreal weight)
    : TaskSpecification(parent, weight), m_MaxParallel(maxParallel), m_SubtaskCanceled(false),
      m_DoneReported(false)
{
    connect(this, SIGNAL(startNextTask()), this, SLOT(onStartNextTask()), Qt::QueuedConnection);
}

ComposedTaskSpecification::~ComposedTaskSpecification()
{
    clearSubtasks();
}

void ComposedTaskSpecification::reset()
{
    const QList<TaskSpecification *> subtasks = m_Subtasks;
    for (TaskSpecification *sub : subtasks)
        sub->reset();
    m_Pending = m_Subtasks;
    m_Running.clear();
    m_Done.clear();
    m_SubtaskCanceled = false;
    m_DoneReported = false;
    TaskSpecification::reset();
}

void ComposedTaskSpecification::getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                                                    bool &downloading)
{
    downloading = false;
    const QList<TaskSpecification *> subtasks = m_Subtasks;
    for (TaskSpecification *sub : subtasks) {
        quint64 d = 0;
        quint64 t = 0;
        quint64 s = 0;
        bool dl = false;
        sub->getDownloadProgress(d, t, s, dl);
        if (dl)
            downloading = true;
        speed += s;
        if (t != 0) {
            done += d;
            total += t;
        }
    }
}

void ComposedTaskSpecification::cancel()
{
    TaskSpecification::cancel();
    if (m_TaskState != RUNNING)
        return;
    const QList<TaskSpecification *> subtasks = m_Subtasks;
    for (TaskSpecification *sub : subtasks)
        sub->cancel();
}

void ComposedTaskSpecification::handleOtherTaskCancelled(TaskSpecification *other)
{
    emit otherTaskCancelled(other);
}

void ComposedTaskSpecification::subtasksDone()
{
    switch (collectSubtaskState()) {
    case CANCELED:
        setCanceled();
        break;
    case FINISHED:
        setFinished();
        break;
    default:
        setFailed();
        break;
    }
}

void ComposedTaskSpecification::connectSubtask(TaskSpecification *sub)
{
    connect(sub, SIGNAL(finished(TaskSpecification *)), this,
            SLOT(onSubTaskFinished(TaskSpecification *)));
    connect(sub, SIGNAL(canceled(TaskSpecification *)), this,
            SLOT(onSubTaskCanceled(TaskSpecification *)));
    connect(sub, SIGNAL(error(QString)), this, SIGNAL(error(QString)));
    connect(sub, SIGNAL(updateProgress(qreal)), this, SLOT(onUpdateProgress(qreal)));
    connect(sub, SIGNAL(message(QString)), this, SIGNAL(message(QString)));
    connect(this, SIGNAL(otherTaskCancelled(TaskSpecification *)), sub,
            SLOT(onOtherTaskCancelled(TaskSpecification *)));
}

void ComposedTaskSpecification::addSubtask(TaskSpecification *sub)
{
    m_Subtasks.append(sub);
    m_Pending.append(sub);
    connectSubtask(sub);
    onUpdateProgress(0);
}

void ComposedTaskSpecification::clearSubtasks()
{
    const QList<TaskSpecification *> subtasks = m_Subtasks;
    for (TaskSpecification *sub : subtasks) {
        disconnect(sub, nullptr, this, nullptr);
        disconnect(this, nullptr, sub, nullptr);
        sub->deleteLater();
    }
    m_Subtasks.clear();
    m_Pending.clear();
    m_Running.clear();
    m_Done.clear();
}

void ComposedTaskSpecification::startSubtasks()
{
    m_TaskState = RUNNING;
    const int n = qMin(m_MaxParallel, m_Pending.size());
    if (n <= 0) {
        reportDone();
        return;
    }
    for (int i = 0; i < n; ++i)
        emit startNextTask();
}

TaskSpecification::TaskState ComposedTaskSpecification::collectSubtaskState() const
{
    bool anyCanceled = false;
    bool allFinished = true;
    const QList<TaskSpecification *> subtasks = m_Subtasks;
    for (const TaskSpecification *sub : subtasks) {
        if (sub->m_TaskState == FAILED)
            return FAILED;
        if (sub->m_TaskState == CANCELED)
            anyCanceled = true;
        if (sub->m_TaskState != FINISHED)
            allFinished = false;
    }
    if (anyCanceled)
        return CANCELED;
    if (allFinished)
        return FINISHED;
    if (m_CancelRequested)
        return CANCELED;
    if (m_SubtaskCanceled)
        return FAILED;
    return RUNNING;
}

void ComposedTaskSpecification::onStartNextTask()
{
    if (!m_Pending.isEmpty() && !m_SubtaskCanceled && !m_CancelRequested) {
        TaskSpecification *sub = m_Pending.takeFirst();
        m_Running.append(sub);
        sub->execute();
        return;
    }
    if (m_Running.isEmpty())
        reportDone();
}

void ComposedTaskSpecification::onUpdateProgress(qreal)
{
    qreal sum = 0;
    const QList<TaskSpecification *> subtasks = m_Subtasks;
    for (const TaskSpecification *sub : subtasks)
        sum += sub->m_Progress;
    setProgressFraction(sum);
}

void ComposedTaskSpecification::onSubTaskFinished(TaskSpecification *sub)
{
    m_Running.removeOne(sub);
    m_Done.append(sub);
    emit startNextTask();
}

void ComposedTaskSpecification::onSubTaskCanceled(TaskSpecification *sub)
{
    m_Running.removeOne(sub);
    m_Done.append(sub);
    if (!m_SubtaskCanceled) {
        m_SubtaskCanceled = true;
        emit otherTaskCancelled(sub);
    }
    if (m_Running.isEmpty())
        reportDone();
}

void ComposedTaskSpecification::reportDone()
{
    if (m_DoneReported)
        return;
    m_DoneReported = true;
    subtasksDone();
}
