#pragma once

#include "asyncfunc.h"

#include <QString>

// The pool-thread body of a slow file operation; holds copies of its paths.
class SlowFileOpFunc : public ASyncFunc
{
    Q_OBJECT
public:
    SlowFileOpFunc(const QString &sourcePath, const QString &patchPath, const QString &targetPath);

    QString m_SourcePath;
    QString m_PatchPath;
    QString m_TargetPath;
};
