#include "command.h"

#include "crypt_exception.h"
#include "crypto.h"

#include <tomcrypt.h>

#include <vector>

namespace {

// Writes FILE.sig, the detached signature the updater checks.
int sign(const QStringList &args)
{
    if (args.size() != 2)
        return publishUsageError("sign takes PRIVATE FILE");
    const std::string keyPath = args[0].toStdString();
    const std::string filePath = args[1].toStdString();
    rsa_key key;
    bool imported = false;
    try {
        initCrypto();
        importKeyFromFile(&key, keyPath);
        imported = true;
        if (key.type != PK_PRIVATE)
            throw crypt_exception(keyPath + " holds no private key");
        std::vector<unsigned char> data;
        readFileToBuffer(filePath, data);
        std::vector<unsigned char> sig(KEY_AREA_SIZE);
        unsigned long sigLength = sig.size();
        signData(&key, data.data(), data.size(), sig.data(), &sigLength);
        freeKey(&key);
        imported = false;
        writeBufferToFile(filePath + ".sig", sig.data(), sigLength);
        return 0;
    } catch (const crypt_exception &e) {
        if (imported)
            freeKey(&key);
        return publishFailure(QString("sign: %1").arg(e.what()));
    }
}

const PublishCommand command("sign", "sign PRIVATE FILE", sign);

} // namespace
