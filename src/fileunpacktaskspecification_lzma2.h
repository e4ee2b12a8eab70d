#pragma once

#include "slowfileopspecification.h"

// Unpacks a compressed package ("._lzma2_") into the target.
class FileUnpackTaskSpecification_lzma2 : public SlowFileOpSpecification
{
    Q_OBJECT
public:
    FileUnpackTaskSpecification_lzma2(RollbackDataList *rollbackList, const QString &sourcePath,
                                      const QString &targetPath, QObject *parent, qreal weight);

    ASyncFunc *createFunc() override;
};
