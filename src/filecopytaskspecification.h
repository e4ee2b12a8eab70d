#pragma once

#include "slowfileopspecification.h"

// Copies a file; fails when the target exists.
class FileCopyTaskSpecification : public SlowFileOpSpecification
{
    Q_OBJECT
public:
    FileCopyTaskSpecification(RollbackDataList *rollbackList, const QString &sourcePath,
                              const QString &targetPath, QObject *parent, qreal weight);

    ASyncFunc *createFunc() override;
};
