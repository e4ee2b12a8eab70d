#pragma once

#include <QRunnable>

class ASyncFunc;

// Carries one body into the thread pool. The pool deletes the runnable after
// it ran, and the runnable deletes the body: the result travels as a copy in
// the queued runResult signal, so nothing needs the body afterwards.
class ASyncRun : public QRunnable
{
public:
    explicit ASyncRun(ASyncFunc *func);
    ~ASyncRun() override;

    void run() override;

private:
    ASyncFunc *m_Func;
};
