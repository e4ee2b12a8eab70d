#pragma once

#include "fastfileoptaskspecification.h"

// Deletes a file or a directory. Deletions are never journalled.
class FileDeleteTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT
public:
    // mustSucceed false: a deletion that fails is not an error.
    // recursive: a directory is removed with its contents; otherwise only an
    // empty directory is removed, together with parents that become empty.
    FileDeleteTaskSpecification(bool mustSucceed, const QString &path, bool recursive,
                                QObject *parent, qreal weight);

    bool doOp() override;

    bool m_MustSucceed;
    bool m_Recursive;
};
