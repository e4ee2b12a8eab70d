#pragma once

#include "asynctaskspecification.h"

#include <QString>

// Verifies one file on the thread pool, by SHA-512 when an expected hash is
// given and by the RSA signature in its ".sig" companion otherwise.
class CheckSignatureTaskSpecification : public ASyncTaskSpecification
{
    Q_OBJECT
public:
    // failOnMismatch false: a failed check is only reported and the task still
    // finishes.
    CheckSignatureTaskSpecification(const QString &filePath, const QString &sha512,
                                    bool failOnMismatch, QObject *parent, qreal weight);

    ASyncFunc *createFunc() override;
    void runDone(bool pass) override;

    QString m_FilePath;
    // Hexadecimal, either letter case; empty for the RSA check.
    QString m_Sha512;
    bool m_FailOnMismatch;

signals:
    // The verdict, emitted once before the task ends.
    void checkDone(bool pass, CheckSignatureTaskSpecification *task);
};
