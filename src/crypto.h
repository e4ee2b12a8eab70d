#pragma once

#include <string>
#include <vector>

// A thin wrapper over LibTomCrypt (with libtommath as its math library) for
// the one signature scheme of the updater: RSA with PKCS #1 v2.1 PSS padding
// over the SHA-1 digest of the data, salt length 8, 1024-bit keys with
// exponent 65537. Every LibTomCrypt error status becomes a crypt_exception
// whose text is the operation's name, ": " and LibTomCrypt's text for the
// status.
//
// Key files and the compiled-in public key are a key area of KEY_AREA_SIZE
// bytes that begins with the DER encoding of a PKCS #1 RSAPublicKey or
// RSAPrivateKey; the bytes after the DER structure are filler that the import
// ignores. A plain DER file (no filler) imports as well.

struct Rsa_key;
typedef struct Rsa_key rsa_key;

const unsigned long KEY_AREA_SIZE = 2048;
// Length of a signature made with a 1024-bit key.
const unsigned long SIGNATURE_SIZE = 128;

// Registers the "sprng" PRNG, the math descriptor and SHA-1. Called once on
// the GUI thread before any check runs; the tables are only read afterwards.
// Throws crypt_exception("Error registering sha1") when a registration fails.
void initCrypto();

// Imports a DER-encoded key; throws on a malformed key.
void importPublicKey(rsa_key *key, const unsigned char *buffer, unsigned long length);

// True when sig is a valid signature of data under key. A well-formed
// signature that does not match gives false; a malformed one (for example of
// the wrong length) throws.
bool verifySignature(rsa_key *key, const unsigned char *data, unsigned long dataLength,
                     const unsigned char *sig, unsigned long sigLength);

// Releases what an import or makeKey allocated in key.
void freeKey(rsa_key *key);

// The compiled-in public key area (KEY_AREA_SIZE bytes).
const unsigned char *compiledPublicKey();

// Signing side, used by the publisher's tools only.

// A new 1024-bit key with exponent 65537.
void makeKey(rsa_key *key);
// Signs data; out must hold *outLength bytes, which is set to the length of
// the signature.
void signData(rsa_key *key, const unsigned char *data, unsigned long dataLength, unsigned char *out,
              unsigned long *outLength);
// Writes the public (PK_PUBLIC) or private (PK_PRIVATE) key as a whole key
// area.
void exportKeyToFile(rsa_key *key, int type, const std::string &path);
// Reads up to KEY_AREA_SIZE bytes of a key file and imports them.
void importKeyFromFile(rsa_key *key, const std::string &path);
void readFileToBuffer(const std::string &path, std::vector<unsigned char> &buffer);
void writeBufferToFile(const std::string &path, const unsigned char *data, unsigned long length);
