#include "taskspecification.h"

TaskSpecification::TaskSpecification(QObject *parent, qreal weight)
    : QObject(parent), m_CancelRequested(false), m_Weight(weight), m_Progress(0),
      m_TaskState(NOT_STARTED)
{
}

void TaskSpecification::reset()
{
    m_CancelRequested = false;
    m_TaskState = NOT_STARTED;
    m_Progress = 0;
    emit updateProgress(0);
}

void TaskSpecification::getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                                            bool &downloading)
{
    done = 0;
    total = 0;
    speed = 0;
    downloading = false;
}

void TaskSpecification::cancel()
{
    m_CancelRequested = true;
}

void TaskSpecification::handleOtherTaskCancelled(TaskSpecification *) {}

void TaskSpecification::onOtherTaskCancelled(TaskSpecification *other)
{
    if (other != this && m_TaskState == RUNNING)
        handleOtherTaskCancelled(other);
}

void TaskSpecification::setProgressFraction(qreal f)
{
    m_Progress = f * m_Weight;
    emit updateProgress(m_Progress);
}

void TaskSpecification::setFinished()
{
    m_TaskState = FINISHED;
    m_Progress = m_Weight;
    emit updateProgress(m_Progress);
    emit finished(this);
}

void TaskSpecification::setFailed()
{
    m_TaskState = FAILED;
    emit canceled(this);
}

void TaskSpecification::setCanceled()
{
    m_TaskState = CANCELED;
    emit canceled(this);
}
