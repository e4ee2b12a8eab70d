#include "opensslhelper.h"

#include <QFile>
#include <QProcess>

namespace OpensslHelper {

namespace {

// openssl signs and verifies a digest it is given; this is that digest.
bool writeSha1(const QString &file, const QString &digestPath)
{
    return run({"dgst", "-sha1", "-binary", "-out", digestPath, file}) == 0;
}

// openssl wants the bare DER structure; key areas carry filler after it. The
// copy goes beside the scratch file, never beside the key.
QString bareKey(const QString &keyPath, const QString &scratchPath)
{
    const QString bare = scratchPath + ".key";
    writeAll(bare, leadingDer(readAll(keyPath)));
    return bare;
}

const QStringList PSS_OPTIONS(int saltLength)
{
    return {"-pkeyopt", "digest:sha1",
            "-pkeyopt", "rsa_padding_mode:pss",
            "-pkeyopt", QString("rsa_pss_saltlen:%1").arg(saltLength)};
}

} // namespace

int run(const QStringList &args, QString *errorOutput)
{
    QProcess process;
    process.start("openssl", args);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    if (errorOutput)
        *errorOutput = QString::fromLocal8Bit(process.readAllStandardError());
    return process.exitCode();
}

bool makeKey(const QString &dir, const QString &name)
{
    const QString pem = dir + "/" + name + ".pem";
    return run({"genrsa", "-out", pem, "1024"}) == 0 &&
           run({"rsa", "-in", pem, "-outform", "DER", "-traditional", "-out",
                dir + "/" + name + ".private.der"}) == 0 &&
           run({"rsa", "-in", pem, "-RSAPublicKey_out", "-outform", "DER", "-out",
                dir + "/" + name + ".public.der"}) == 0;
}

bool sign(const QString &privateKey, const QString &file, const QString &sigPath, int saltLength)
{
    const QString digest = sigPath + ".sha1";
    return writeSha1(file, digest) &&
           run(QStringList{"pkeyutl", "-sign", "-keyform", "DER", "-inkey",
                           bareKey(privateKey, sigPath), "-in", digest, "-out", sigPath} +
               PSS_OPTIONS(saltLength)) == 0;
}

bool verify(const QString &publicKey, const QString &file, const QString &sigPath)
{
    const QString digest = sigPath + ".check.sha1";
    return writeSha1(file, digest) &&
           run(QStringList{"pkeyutl", "-verify", "-pubin", "-keyform", "DER", "-inkey",
                           bareKey(publicKey, digest), "-in", digest, "-sigfile", sigPath} +
               PSS_OPTIONS(8)) == 0;
}

QByteArray leadingDer(const QByteArray &area)
{
    if (area.size() < 2 || quint8(area[0]) != 0x30)
        return area;
    const int first = quint8(area[1]);
    if (first < 0x80)
        return area.left(2 + first);
    const int lengthBytes = first & 0x7f;
    if (lengthBytes > 3 || area.size() < 2 + lengthBytes)
        return area;
    int length = 0;
    for (int i = 0; i < lengthBytes; ++i)
        length = length << 8 | quint8(area[2 + i]);
    return area.left(2 + lengthBytes + length);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

bool writeAll(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

} // namespace OpensslHelper
