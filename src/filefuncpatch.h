#pragma once

#include "slowfileopfunc.h"

// Runs the patch engine: source is the old file, the patch file turns it into
// the target.
class FileFuncPatch : public SlowFileOpFunc
{
    Q_OBJECT
public:
    using SlowFileOpFunc::SlowFileOpFunc;

    bool run() override;

private:
    bool patchFile(const QString &oldPath, const QString &patchPath, const QString &newPath);
};
