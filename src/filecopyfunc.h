#pragma once

#include "slowfileopfunc.h"

class FileCopyFunc : public SlowFileOpFunc
{
    Q_OBJECT
public:
    using SlowFileOpFunc::SlowFileOpFunc;

    bool run() override;
};
