#include "checksigfunc.h"

#include "crypt_exception.h"
#include "crypto.h"

#include <QDebug>
#include <QFile>

#include <tomcrypt.h>

#include <limits>

namespace {

const qint64 HASH_BLOCK_SIZE = 1 << 20;
const int SHA512_SIZE = 64;
// A QByteArray holds a little less than 2 GiB.
const qint64 MAX_WHOLE_FILE_SIZE = std::numeric_limits<int>::max() - 64;

} // namespace

CheckSigFunc::CheckSigFunc(const QString &filePath, const QString &sha512)
    : m_FilePath(filePath), m_Sha512(sha512)
{
}

bool CheckSigFunc::run()
{
    if (!m_Sha512.isEmpty())
        return checkSHA512();
    return checkRSA();
}

bool CheckSigFunc::readFile(const QString &path, QByteArray &out)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        emit message(tr("Could not open file %1 for reading").arg(path));
        return false;
    }
    const qint64 size = file.size();
    if (size < 0 || size > MAX_WHOLE_FILE_SIZE) {
        emit message(tr("could not read file %1 correctly").arg(path));
        return false;
    }
    out.resize(int(size));
    if (file.read(out.data(), size) != size) {
        emit message(tr("could not read file %1 correctly").arg(path));
        return false;
    }
    file.close();
    return true;
}

QString CheckSigFunc::hashFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        emit message(tr("Could not open file %1 for reading").arg(path));
        return QString();
    }
    // Exactly the size seen at opening is hashed, as a whole-file read would.
    // LibTomCrypt's SHA-512 is markedly faster than Qt's, with equal digests.
    qint64 remaining = file.size();
    hash_state state;
    sha512_init(&state);
    QByteArray block(int(qMin(remaining, HASH_BLOCK_SIZE)), Qt::Uninitialized);
    while (remaining > 0) {
        const qint64 want = qMin(remaining, HASH_BLOCK_SIZE);
        const qint64 got = file.read(block.data(), want);
        if (got != want) {
            emit message(tr("could not read file %1 correctly").arg(path));
            return QString();
        }
        sha512_process(&state, reinterpret_cast<const unsigned char *>(block.constData()),
                       static_cast<unsigned long>(got));
        remaining -= got;
    }
    QByteArray digest(SHA512_SIZE, Qt::Uninitialized);
    sha512_done(&state, reinterpret_cast<unsigned char *>(digest.data()));
    return QString::fromLatin1(digest.toHex());
}

bool CheckSigFunc::checkSHA512()
{
    const QString computed = hashFile(m_FilePath);
    if (computed.isEmpty())
        return false;
    const bool pass = m_Sha512.compare(computed, Qt::CaseInsensitive) == 0;
    qDebug() << "SHA512 check:" << m_Sha512 << computed << "=>" << (pass ? "true" : "false");
    return pass;
}

bool CheckSigFunc::checkRSA()
{
    QByteArray data;
    if (!readFile(m_FilePath, data)) {
        qDebug() << "RSA check failed, could not read" << m_FilePath;
        return false;
    }
    const QString sigPath = m_FilePath + ".sig";
    QByteArray sig;
    if (!readFile(sigPath, sig)) {
        qDebug() << "RSA check failed, could not read" << sigPath;
        return false;
    }
    rsa_key key;
    bool imported = false;
    try {
        importPublicKey(&key, compiledPublicKey(), KEY_AREA_SIZE);
        imported = true;
        const bool pass = verifySignature(
            &key, reinterpret_cast<const unsigned char *>(data.constData()), data.size(),
            reinterpret_cast<const unsigned char *>(sig.constData()), sig.size());
        freeKey(&key);
        qDebug() << "RSA check" << (pass ? "true" : "false");
        return pass;
    } catch (const crypt_exception &e) {
        if (imported)
            freeKey(&key);
        qDebug() << "RSA check failed, caught exception" << e.what();
        return false;
    }
}
