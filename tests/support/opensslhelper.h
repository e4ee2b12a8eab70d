#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The openssl command line as an independent second implementation of the
// signature scheme: RSASSA-PSS over SHA-1 (MGF1 with SHA-1), salt length 8,
// raw signature bytes.
namespace OpensslHelper {

// Runs openssl with args; returns its exit code (-1 if it could not run).
int run(const QStringList &args, QString *errorOutput = nullptr);

// Makes a 1024-bit key pair in dir and writes it as bare PKCS #1 DER:
// dir/NAME.private.der and dir/NAME.public.der. False on failure.
bool makeKey(const QString &dir, const QString &name);

// Signs file into sigPath with the given private key (PKCS #1 DER, possibly
// followed by filler).
bool sign(const QString &privateKey, const QString &file, const QString &sigPath,
          int saltLength = 8);

// True when openssl accepts sigPath as a signature of file.
bool verify(const QString &publicKey, const QString &file, const QString &sigPath);

// The leading DER structure of a key area (drops the filler).
QByteArray leadingDer(const QByteArray &area);

QByteArray readAll(const QString &path);
bool writeAll(const QString &path, const QByteArray &data);

} // namespace OpensslHelper
