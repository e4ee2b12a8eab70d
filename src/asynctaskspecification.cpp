#include "asynctaskspecification.h"

#include "asyncfunc.h"
#include "asyncrun.h"

#include <QThreadPool>

ASyncTaskSpecification::ASyncTaskSpecification(QObject *parent, qreal weight)
    : TaskSpecification(parent, weight)
{
}

void ASyncTaskSpecification::execute()
{
    ASyncFunc *func = createFunc();
    connectFunc(func);
    QThreadPool::globalInstance()->start(new ASyncRun(func), 0);
    m_TaskState = RUNNING;
}

void ASyncTaskSpecification::reset()
{
    QThreadPool::globalInstance()->waitForDone(-1);
    TaskSpecification::reset();
}

void ASyncTaskSpecification::connectFunc(ASyncFunc *func)
{
    connect(func, SIGNAL(runResult(bool)), this, SLOT(onRunResult(bool)), Qt::QueuedConnection);
    connect(func, SIGNAL(message(QString)), this, SIGNAL(message(QString)), Qt::QueuedConnection);
    connect(func, SIGNAL(error(QString)), this, SIGNAL(error(QString)), Qt::QueuedConnection);
    connect(func, SIGNAL(progress(qreal)), this, SLOT(onProgress(qreal)), Qt::QueuedConnection);
}

void ASyncTaskSpecification::runDone(bool ok)
{
    if (m_TaskState != RUNNING)
        return;
    if (ok)
        setFinished();
    else
        setFailed();
}

void ASyncTaskSpecification::onRunResult(bool res)
{
    runDone(res);
}

void ASyncTaskSpecification::onProgress(qreal progress)
{
    setProgressFraction(progress);
}
