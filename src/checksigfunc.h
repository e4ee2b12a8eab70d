#pragma once

#include "asyncfunc.h"

#include <QByteArray>
#include <QString>

// Checks one file: against its expected SHA-512 when one is given, otherwise
// against the RSA signature in the file's ".sig" companion, made with the
// private key that belongs to the compiled-in public key.
class CheckSigFunc : public ASyncFunc
{
    Q_OBJECT
public:
    CheckSigFunc(const QString &filePath, const QString &sha512);

    bool run() override;

    // Reads the whole file into out; on failure emits a message and returns
    // false.
    bool readFile(const QString &path, QByteArray &out);

    // Lower-case hexadecimal SHA-512 of the file, read in blocks so that large
    // files are neither held in memory nor limited in size; on failure emits
    // the messages readFile() would and returns an empty string.
    QString hashFile(const QString &path);

private:
    bool checkSHA512();
    bool checkRSA();

    QString m_FilePath;
    QString m_Sha512;
};
