#pragma once

#include "slowfileopfunc.h"

class FileUnpackFunc_Zip : public SlowFileOpFunc
{
    Q_OBJECT
public:
    using SlowFileOpFunc::SlowFileOpFunc;

    // The output is written beside the target and renamed over it only when
    // the whole stream was read, so a failure leaves the target as it was.
    bool run() override;
};
