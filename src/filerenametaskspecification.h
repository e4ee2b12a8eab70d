#pragma once

#include "fastfileoptaskspecification.h"

// Renames a file; never overwrites an existing target.
class FileRenameTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT
public:
    FileRenameTaskSpecification(const QString &sourcePath, const QString &targetPath,
                                RollbackDataList *rollbackList, QObject *parent, qreal weight);

    bool doOp() override;

    QString m_SourcePath;
};
