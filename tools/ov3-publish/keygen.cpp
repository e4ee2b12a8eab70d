#include "command.h"

#include "crypt_exception.h"
#include "crypto.h"

#include <tomcrypt.h>

namespace {

// Makes a new signing key pair. The private file signs product inis and
// downloads; the public file is what OV3_PUBLIC_KEY names when the updater is
// built.
int keygen(const QStringList &args)
{
    if (args.size() != 2)
        return publishUsageError("keygen takes PRIVATE PUBLIC");
    rsa_key key;
    bool made = false;
    try {
        initCrypto();
        makeKey(&key);
        made = true;
        exportKeyToFile(&key, PK_PRIVATE, args[0].toStdString());
        exportKeyToFile(&key, PK_PUBLIC, args[1].toStdString());
        freeKey(&key);
        return 0;
    } catch (const crypt_exception &e) {
        if (made)
            freeKey(&key);
        return publishFailure(QString("keygen: %1").arg(e.what()));
    }
}

const PublishCommand command("keygen", "keygen PRIVATE PUBLIC", keygen);

} // namespace
