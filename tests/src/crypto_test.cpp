#include "crypt_exception.h"
#include "crypto.h"
#include "opensslhelper.h"

#include <QByteArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <tomcrypt.h>

#include <functional>
#include <memory>

namespace {

namespace ossl = OpensslHelper;

const unsigned char *bytes(const QByteArray &a)
{
    return reinterpret_cast<const unsigned char *>(a.constData());
}

// A key imported for one test and freed whatever happens.
struct Key
{
    rsa_key key;
    bool loaded = false;
    ~Key()
    {
        if (loaded)
            freeKey(&key);
    }
    void import(const QByteArray &der)
    {
        importPublicKey(&key, bytes(der), der.size());
        loaded = true;
    }
};

// Valid, invalid or malformed: a malformed signature throws, which the
// updater counts as invalid as well.
enum Verdict
{
    VALID,
    INVALID,
    THROWS
};

Verdict check(const QByteArray &keyDer, const QByteArray &data, const QByteArray &sig)
{
    Key k;
    k.import(keyDer);
    try {
        return verifySignature(&k.key, bytes(data), data.size(), bytes(sig), sig.size()) ? VALID
                                                                                         : INVALID;
    } catch (const crypt_exception &) {
        return THROWS;
    }
}

QByteArray padded(const QByteArray &der)
{
    QByteArray area = der;
    area.append(QByteArray(int(KEY_AREA_SIZE) - der.size(), '\0'));
    return area;
}

class CryptoTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        initCrypto();
        s_Dir = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(ossl::makeKey(s_Dir->path(), "a"));
        ASSERT_TRUE(ossl::makeKey(s_Dir->path(), "b"));
    }
    static void TearDownTestSuite() { s_Dir.reset(); }

    static QString path(const QString &name) { return s_Dir->path() + "/" + name; }
    static QByteArray publicKey(const QString &name)
    {
        return ossl::readAll(path(name + ".public.der"));
    }
    // Writes data to a file and has openssl sign it with key a.
    static QByteArray opensslSignature(const QString &name, const QByteArray &data,
                                       const QString &key = "a", int saltLength = 8)
    {
        EXPECT_TRUE(ossl::writeAll(path(name), data));
        EXPECT_TRUE(
            ossl::sign(path(key + ".private.der"), path(name), path(name + ".sig"), saltLength));
        return ossl::readAll(path(name + ".sig"));
    }

    static std::unique_ptr<QTemporaryDir> s_Dir;
};

std::unique_ptr<QTemporaryDir> CryptoTest::s_Dir;

TEST_F(CryptoTest, OpensslSignaturesVerify)
{
    const QList<int> sizes = {0, 1, 1000, 200000};
    for (int size : sizes) {
        QByteArray data(size, '\0');
        for (int i = 0; i < size; ++i)
            data[i] = char(i * 7 + size);
        const QByteArray sig = opensslSignature(QString("data%1").arg(size), data);
        ASSERT_EQ(sig.size(), int(SIGNATURE_SIZE));
        EXPECT_EQ(check(publicKey("a"), data, sig), VALID) << "bare DER key, size " << size;
        EXPECT_EQ(check(padded(publicKey("a")), data, sig), VALID) << "key area, size " << size;
    }
}

TEST_F(CryptoTest, BadSignaturesAreRejected)
{
    const QByteArray data = "[product]\nversion=3.0.1\n";
    const QByteArray good = opensslSignature("ini", data);
    const QByteArray otherKey = opensslSignature("ini.b", data, "b");
    const QByteArray salt20 = opensslSignature("ini.salt20", data, "a", 20);
    ASSERT_EQ(check(publicKey("a"), data, good), VALID);

    struct Row
    {
        const char *name;
        QByteArray data;
        QByteArray sig;
    };
    auto flipped = [&](int byte, int bit) {
        QByteArray s = good;
        s[byte] = char(s[byte] ^ (1 << bit));
        return s;
    };
    const QList<Row> rows = {
        {"first bit flipped", data, flipped(0, 7)},
        {"middle bit flipped", data, flipped(64, 3)},
        {"last bit flipped", data, flipped(127, 0)},
        {"one byte short", data, good.left(127)},
        {"one byte long", data, good + '\0'},
        {"empty signature", data, QByteArray()},
        {"all zero", data, QByteArray(128, '\0')},
        {"all ones", data, QByteArray(128, '\xff')},
        {"other key", data, otherKey},
        {"salt length 20", data, salt20},
        {"changed file", QByteArray(data).replace("3.0.1", "3.0.2"), good},
        {"file one byte longer", data + "\n", good},
    };
    for (const Row &row : rows)
        EXPECT_NE(check(publicKey("a"), row.data, row.sig), VALID) << row.name;
}

TEST_F(CryptoTest, WrongLengthSignatureThrowsWithTheOperationName)
{
    Key k;
    k.import(publicKey("a"));
    const QByteArray data = "x";
    const QByteArray sig(100, 'x');
    try {
        verifySignature(&k.key, bytes(data), data.size(), bytes(sig), sig.size());
        FAIL() << "no exception";
    } catch (const crypt_exception &e) {
        EXPECT_EQ(std::string(e.what()).rfind("rsa_verify_hash: ", 0), 0u) << e.what();
    }
}

TEST_F(CryptoTest, NullBuffersAreNotFatal)
{
    // LibTomCrypt aborts on null pointers; empty containers hand out exactly those.
    Key k;
    k.import(publicKey("a"));
    EXPECT_THROW(verifySignature(&k.key, nullptr, 0, nullptr, 0), crypt_exception);
    rsa_key broken;
    EXPECT_THROW(importPublicKey(&broken, nullptr, 0), crypt_exception);

    rsa_key signer;
    importKeyFromFile(&signer, path("a.private.der").toStdString());
    unsigned char sig[KEY_AREA_SIZE];
    unsigned long sigLength = sizeof sig;
    signData(&signer, nullptr, 0, sig, &sigLength);
    freeKey(&signer);
    EXPECT_EQ(check(publicKey("a"), QByteArray(),
                    QByteArray(reinterpret_cast<const char *>(sig), int(sigLength))),
              VALID);
}

TEST_F(CryptoTest, WrapperSignaturesVerifyWithOpenssl)
{
    rsa_key key;
    importKeyFromFile(&key, path("a.private.der").toStdString());
    const QByteArray data(5000, 'q');
    ASSERT_TRUE(ossl::writeAll(path("mine"), data));
    QByteArray previous;
    for (int i = 0; i < 2; ++i) {
        unsigned char sig[KEY_AREA_SIZE];
        unsigned long sigLength = sizeof sig;
        signData(&key, bytes(data), data.size(), sig, &sigLength);
        ASSERT_EQ(sigLength, SIGNATURE_SIZE);
        const QByteArray s(reinterpret_cast<const char *>(sig), int(sigLength));
        ASSERT_TRUE(ossl::writeAll(path("mine.sig"), s));
        EXPECT_TRUE(ossl::verify(path("a.public.der"), path("mine"), path("mine.sig")));
        EXPECT_FALSE(ossl::verify(path("b.public.der"), path("mine"), path("mine.sig")));
        EXPECT_NE(s, previous) << "PSS signatures carry a fresh salt";
        previous = s;
    }
    freeKey(&key);
}

TEST_F(CryptoTest, MadeKeysRoundTripThroughKeyAreas)
{
    rsa_key made;
    makeKey(&made);
    exportKeyToFile(&made, PK_PRIVATE, path("made.private").toStdString());
    exportKeyToFile(&made, PK_PUBLIC, path("made.public").toStdString());
    freeKey(&made);
    const QByteArray publicArea = ossl::readAll(path("made.public"));
    EXPECT_EQ(publicArea.size(), int(KEY_AREA_SIZE));
    EXPECT_EQ(ossl::readAll(path("made.private")).size(), int(KEY_AREA_SIZE));
    // 1024-bit modulus and exponent 65537 encode to 140 bytes.
    EXPECT_EQ(ossl::leadingDer(publicArea).size(), 140);
    EXPECT_TRUE(publicArea.endsWith(QByteArray(int(KEY_AREA_SIZE) - 140, '\0')));

    rsa_key signer;
    importKeyFromFile(&signer, path("made.private").toStdString());
    const QByteArray data = "round trip";
    unsigned char sig[KEY_AREA_SIZE];
    unsigned long sigLength = sizeof sig;
    signData(&signer, bytes(data), data.size(), sig, &sigLength);
    freeKey(&signer);
    const QByteArray s(reinterpret_cast<const char *>(sig), int(sigLength));
    EXPECT_EQ(check(publicArea, data, s), VALID);
    EXPECT_NE(check(publicKey("a"), data, s), VALID);
}

TEST_F(CryptoTest, FailuresThrowTheirTexts)
{
    struct Row
    {
        const char *name;
        std::function<void()> call;
        std::string expected;
        bool prefixOnly;
    };
    const std::string missing = path("missing/file").toStdString();
    rsa_key key;
    const QByteArray garbage(KEY_AREA_SIZE, '\x30');
    const QList<Row> rows = {
        {"import garbage", [&] { importPublicKey(&key, bytes(garbage), garbage.size()); },
         "rsa_import: ", true},
        {"key file missing", [&] { importKeyFromFile(&key, missing); },
         "Cannot open file for reading: " + missing, false},
        {"read missing",
         [&] {
             std::vector<unsigned char> b;
             readFileToBuffer(missing, b);
         },
         "Cannot open file for reading: " + missing, false},
        {"write into missing dir", [&] { writeBufferToFile(missing, bytes(garbage), 1); },
         "Cannot open file for writing: " + missing, false},
    };
    for (const Row &row : rows) {
        try {
            row.call();
            ADD_FAILURE() << row.name << ": no exception";
        } catch (const crypt_exception &e) {
            const std::string what = e.what();
            if (row.prefixOnly)
                EXPECT_EQ(what.rfind(row.expected, 0), 0u) << row.name << ": " << what;
            else
                EXPECT_EQ(what, row.expected) << row.name;
        }
    }
}

TEST_F(CryptoTest, CompiledKeyIsTheConfiguredKeyFileInAKeyArea)
{
    const QByteArray file = ossl::readAll(OV3_PUBLIC_KEY_FILE);
    ASSERT_FALSE(file.isEmpty());
    const QByteArray area(reinterpret_cast<const char *>(compiledPublicKey()), KEY_AREA_SIZE);
    EXPECT_EQ(area, padded(file));
    Key k;
    EXPECT_NO_THROW(k.import(area));
    EXPECT_EQ(k.key.type, PK_PUBLIC);
}

} // namespace
