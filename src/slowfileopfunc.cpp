#include "slowfileopfunc.h"

SlowFileOpFunc::SlowFileOpFunc(const QString &sourcePath, const QString &patchPath,
                               const QString &targetPath)
    : m_SourcePath(sourcePath), m_PatchPath(patchPath), m_TargetPath(targetPath)
{
}
