#pragma once

#include "asynctaskspecification.h"
#include "rollback.h"

#include <QString>

// A file operation that produces one output file on the thread pool (copy,
// patch, unpack). On success the output is journalled as created; on failure
// the prepared failure text becomes the one progress message.
class SlowFileOpSpecification : public ASyncTaskSpecification
{
    Q_OBJECT
public:
    SlowFileOpSpecification(const QString &failureText, RollbackDataList *rollbackList,
                            const QString &sourcePath, const QString &targetPath, QObject *parent,
                            qreal weight);
    SlowFileOpSpecification(const QString &failureText, RollbackDataList *rollbackList,
                            const QString &sourcePath, const QString &patchPath,
                            const QString &targetPath, QObject *parent, qreal weight);

    void runDone(bool ok) override;

    RollbackDataList *m_RollbackList;
    QString m_SourcePath;
    QString m_PatchPath;
    QString m_TargetPath;
    QString m_FailureText;
};
