#include "asyncrun.h"

#include "asyncfunc.h"

ASyncRun::ASyncRun(ASyncFunc *func) : m_Func(func) {}

ASyncRun::~ASyncRun()
{
    delete m_Func;
}

void ASyncRun::run()
{
    const bool r = m_Func->run();
    emit m_Func->runResult(r);
}
