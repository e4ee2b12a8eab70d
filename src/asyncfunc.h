#pragma once

#include <QObject>
#include <QString>

// The body of an asynchronous task: run() executes on a worker thread of the
// global thread pool. A body holds copies of what it needs, never touches its
// task or any GUI object, and talks to the task only through its signals,
// which the task receives through queued connections.
//
// A body may also be run synchronously inside another body; then nobody
// listens to its signals and only the result of run() counts.
class ASyncFunc : public QObject
{
    Q_OBJECT
public:
    ASyncFunc();

    // The work; true on success.
    virtual bool run() = 0;

signals:
    // Emitted once by the runner, right after run() returned.
    void runResult(bool res);
    void message(QString);
    void error(QString);
    // Fraction 0 ... 1 of the work done.
    void progress(qreal progress);
};
