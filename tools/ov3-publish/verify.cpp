#include "command.h"

#include "crypt_exception.h"
#include "crypto.h"

#include <tomcrypt.h>

#include <cstdio>
#include <vector>

namespace {

// Checks FILE against FILE.sig the way the updater does. A signature that is
// malformed or missing counts as invalid like one that does not match.
int verify(const QStringList &args)
{
    if (args.size() != 2)
        return publishUsageError("verify takes PUBLIC FILE");
    const std::string filePath = args[1].toStdString();
    rsa_key key;
    bool imported = false;
    try {
        initCrypto();
        importKeyFromFile(&key, args[0].toStdString());
        imported = true;
        std::vector<unsigned char> data;
        readFileToBuffer(filePath, data);
        std::vector<unsigned char> sig;
        readFileToBuffer(filePath + ".sig", sig);
        const bool valid = verifySignature(&key, data.data(), data.size(), sig.data(), sig.size());
        freeKey(&key);
        if (!valid)
            return publishFailure(QString("verify: %1.sig does not match %1").arg(args[1]));
        std::printf("%s: signature valid\n", qPrintable(args[1]));
        return 0;
    } catch (const crypt_exception &e) {
        if (imported)
            freeKey(&key);
        return publishFailure(QString("verify: %1").arg(e.what()));
    }
}

const PublishCommand command("verify", "verify PUBLIC FILE", verify);

} // namespace
