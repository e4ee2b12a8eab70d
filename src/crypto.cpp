#include "crypto.h"

#include "crypt_exception.h"
#include "ov3publickey.h"

#include <tomcrypt.h>

#include <cstdio>
#include <memory>
#include <mutex>

namespace {

int s_HashIndex = -1;
int s_PrngIndex = -1;

const unsigned long SALT_LENGTH = 8;
const int KEY_SIZE_BYTES = 128;
const long KEY_EXPONENT = 65537;
const unsigned long SHA1_SIZE = 20;

void check(int status, const char *operation)
{
    if (status != CRYPT_OK)
        throw crypt_exception(std::string(operation) + ": " + error_to_string(status));
}

// LibTomCrypt aborts the process on a null buffer pointer, even with length
// 0, and an empty std::vector or buffer may well have one.
const unsigned char *nonNull(const unsigned char *p)
{
    static const unsigned char nothing = 0;
    return p ? p : &nothing;
}

void sha1(const unsigned char *data, unsigned long length, unsigned char *digest)
{
    hash_state md;
    sha1_init(&md);
    sha1_process(&md, nonNull(data), length);
    sha1_done(&md, digest);
}

struct FileCloser
{
    void operator()(FILE *f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

FilePtr openForWriting(const std::string &path)
{
    FilePtr f(std::fopen(path.c_str(), "wb"));
    if (!f)
        throw crypt_exception("Cannot open file for writing: " + path);
    return f;
}

// A write that cannot be completed must not look like a finished key or
// signature file.
void writeAndClose(FilePtr f, const std::string &path, const unsigned char *data,
                   unsigned long length)
{
    const bool written = std::fwrite(data, 1, length, f.get()) == length;
    const bool closed = std::fclose(f.release()) == 0;
    if (!written || !closed)
        throw crypt_exception("Cannot write file: " + path);
}

} // namespace

void initCrypto()
{
    // The tables are filled once; later calls (a second engine run, the tests)
    // must not rewrite them while checks read them on pool threads.
    static std::once_flag once;
    std::call_once(once, [] {
        ltc_mp = ltm_desc;
        s_PrngIndex = register_prng(&sprng_desc);
        s_HashIndex = register_hash(&sha1_desc);
    });
    if (s_PrngIndex == -1 || s_HashIndex == -1)
        throw crypt_exception("Error registering sha1");
}

void importPublicKey(rsa_key *key, const unsigned char *buffer, unsigned long length)
{
    // An empty key is refused before LibTomCrypt, which would abort on it.
    check(length == 0 ? CRYPT_INVALID_PACKET : rsa_import(buffer, length, key), "rsa_import");
}

bool verifySignature(rsa_key *key, const unsigned char *data, unsigned long dataLength,
                     const unsigned char *sig, unsigned long sigLength)
{
    unsigned char digest[SHA1_SIZE];
    sha1(data, dataLength, digest);
    int status = 0;
    check(rsa_verify_hash_ex(nonNull(sig), sigLength, digest, SHA1_SIZE, LTC_PKCS_1_PSS,
                             s_HashIndex, SALT_LENGTH, &status, key),
          "rsa_verify_hash");
    return status == 1;
}

void freeKey(rsa_key *key)
{
    rsa_free(key);
}

const unsigned char *compiledPublicKey()
{
    return OV3_PUBLIC_KEY_AREA;
}

void makeKey(rsa_key *key)
{
    prng_state unused; // "sprng" reads the system's random source and keeps no state
    check(rsa_make_key(&unused, s_PrngIndex, KEY_SIZE_BYTES, KEY_EXPONENT, key), "rsa_make_key");
}

void signData(rsa_key *key, const unsigned char *data, unsigned long dataLength, unsigned char *out,
              unsigned long *outLength)
{
    unsigned char digest[SHA1_SIZE];
    sha1(data, dataLength, digest);
    prng_state unused;
    check(rsa_sign_hash_ex(digest, SHA1_SIZE, out, outLength, LTC_PKCS_1_PSS, &unused, s_PrngIndex,
                           s_HashIndex, SALT_LENGTH, key),
          "rsa_sign_hash");
}

void exportKeyToFile(rsa_key *key, int type, const std::string &path)
{
    unsigned char area[KEY_AREA_SIZE] = {};
    unsigned long length = KEY_AREA_SIZE;
    check(rsa_export(area, &length, type, key), "rsa_export");
    writeAndClose(openForWriting(path), path, area, KEY_AREA_SIZE);
}

void importKeyFromFile(rsa_key *key, const std::string &path)
{
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f)
        throw crypt_exception("Cannot open file for reading: " + path);
    unsigned char area[KEY_AREA_SIZE] = {};
    const size_t length = std::fread(area, 1, KEY_AREA_SIZE, f.get());
    if (std::ferror(f.get()))
        throw crypt_exception("Cannot read file: " + path);
    importPublicKey(key, area, length);
}

void readFileToBuffer(const std::string &path, std::vector<unsigned char> &buffer)
{
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f)
        throw crypt_exception("Cannot open file for reading: " + path);
    buffer.clear();
    unsigned char step[KEY_AREA_SIZE];
    size_t n;
    while ((n = std::fread(step, 1, sizeof step, f.get())) > 0)
        buffer.insert(buffer.end(), step, step + n);
    if (std::ferror(f.get()))
        throw crypt_exception("Cannot read file: " + path);
}

void writeBufferToFile(const std::string &path, const unsigned char *data, unsigned long length)
{
    writeAndClose(openForWriting(path), path, data, length);
}
