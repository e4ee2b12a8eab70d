#pragma once

#include "rollback.h"
#include "taskspecification.h"

#include <QString>

// A file operation quick enough to run on the GUI thread inside execute():
// the task ends before execute() returns, with the verdict of doOp().
class FastFileOpTaskSpecification : public TaskSpecification
{
    Q_OBJECT
public:
    // rollbackList may be null: then nothing is journalled.
    FastFileOpTaskSpecification(const QString &targetPath, RollbackDataList *rollbackList,
                                QObject *parent, qreal weight);

    void execute() override;

    // The operation; true on success.
    virtual bool doOp() = 0;

    RollbackDataList *m_RollbackList;
    QString m_TargetPath;

protected:
    void addRollback(const RollbackData &record);
};
