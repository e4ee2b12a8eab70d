#pragma once

#include "slowfileopfunc.h"

class FileUnpackFunc_lzma2 : public SlowFileOpFunc
{
    Q_OBJECT
public:
    using SlowFileOpFunc::SlowFileOpFunc;

    bool run() override;

private:
    bool unpackFile(const QString &packagePath, const QString &outputPath);
};
