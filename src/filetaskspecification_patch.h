#pragma once

#include "slowfileopspecification.h"

// Applies an ensemble patch to an old file, producing the target.
class FileTaskSpecification_patch : public SlowFileOpSpecification
{
    Q_OBJECT
public:
    FileTaskSpecification_patch(RollbackDataList *rollbackList, const QString &sourcePath,
                                const QString &patchPath, const QString &targetPath,
                                QObject *parent, qreal weight);

    ASyncFunc *createFunc() override;
};
