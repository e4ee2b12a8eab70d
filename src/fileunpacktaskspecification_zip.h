#pragma once

#include "slowfileopspecification.h"

// Unpacks a gzip file into the target; a source without a gzip header is
// copied unchanged.
class FileUnpackTaskSpecification_zip : public SlowFileOpSpecification
{
    Q_OBJECT
public:
    FileUnpackTaskSpecification_zip(RollbackDataList *rollbackList, const QString &sourcePath,
                                    const QString &targetPath, QObject *parent, qreal weight);

    ASyncFunc *createFunc() override;
};
