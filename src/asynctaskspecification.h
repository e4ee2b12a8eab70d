#pragma once

#include "taskspecification.h"

class ASyncFunc;

// A task whose slow body runs on Qt's global thread pool. The task itself
// stays on the GUI thread; every state change happens there, when the body's
// queued signals arrive. A running body cannot be interrupted: cancel() only
// records the request and the task ends with the body's verdict.
class ASyncTaskSpecification : public TaskSpecification
{
    Q_OBJECT
public:
    ASyncTaskSpecification(QObject *parent, qreal weight);

    // Creates, connects and submits the body; sets RUNNING.
    void execute() override;
    // Waits for every job of the global pool (not only this task's body), so
    // no late result can arrive from before the reset.
    void reset() override;

    // A new body holding copies of this task's parameters.
    virtual ASyncFunc *createFunc() = 0;
    virtual void connectFunc(ASyncFunc *func);
    // Ends the task with the body's verdict; ignored unless RUNNING.
    // Subclasses act on the result first and then call this.
    virtual void runDone(bool ok);

public slots:
    void onRunResult(bool res);
    void onProgress(qreal progress);
};
