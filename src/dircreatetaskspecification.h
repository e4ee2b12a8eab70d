#pragma once

#include "fastfileoptaskspecification.h"

// Creates a directory and every missing parent, journalling each level it
// creates (parents before children, so a rollback removes children first).
class DirCreateTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT
public:
    DirCreateTaskSpecification(const QString &dirPath, RollbackDataList *rollbackList,
                               QObject *parent, qreal weight);

    bool doOp() override;

private:
    bool createDir(const QString &path);
};
