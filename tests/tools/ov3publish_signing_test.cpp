#include "opensslhelper.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

namespace ossl = OpensslHelper;

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

Outcome publish(const QStringList &args)
{
    QProcess process;
    process.start(OV3_BIN_DIR "/ov3-publish", args);
    Outcome o;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return o;
    o.exitCode = process.exitCode();
    o.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    o.err = QString::fromLocal8Bit(process.readAllStandardError());
    return o;
}

int lineCount(const QString &text)
{
    return text.count('\n');
}

class PublishSigningTest : public ::testing::Test
{
protected:
    QString path(const QString &name) const { return m_Dir.path() + "/" + name; }
    QString write(const QString &name, const QByteArray &data) const
    {
        EXPECT_TRUE(ossl::writeAll(path(name), data));
        return path(name);
    }

    QTemporaryDir m_Dir;
};

TEST_F(PublishSigningTest, PublisherRoundTripAgreesWithOpenssl)
{
    ASSERT_EQ(publish({"keygen", path("private.key"), path("public.key")}).exitCode, 0);
    EXPECT_EQ(ossl::readAll(path("private.key")).size(), 2048);
    EXPECT_EQ(ossl::readAll(path("public.key")).size(), 2048);

    const QString ini = write("product.ini", "[Product]\nVersion=3.0.1\n");
    const Outcome signedIt = publish({"sign", path("private.key"), ini});
    ASSERT_EQ(signedIt.exitCode, 0) << signedIt.err.toStdString();
    EXPECT_EQ(ossl::readAll(ini + ".sig").size(), 128);

    const Outcome verified = publish({"verify", path("public.key"), ini});
    EXPECT_EQ(verified.exitCode, 0) << verified.err.toStdString();
    EXPECT_TRUE(ossl::verify(path("public.key"), ini, ini + ".sig"));

    const QString empty = write("empty", QByteArray());
    ASSERT_EQ(publish({"sign", path("private.key"), empty}).exitCode, 0);
    EXPECT_EQ(publish({"verify", path("public.key"), empty}).exitCode, 0);
    EXPECT_TRUE(ossl::verify(path("public.key"), empty, empty + ".sig"));

    // The DER structure at the head of the private key area signs with openssl
    // too, and ov3-publish accepts the result.
    const QString other = write("other.bin", QByteArray(70000, 'z'));
    ASSERT_TRUE(ossl::sign(path("private.key"), other, other + ".sig"));
    EXPECT_EQ(publish({"verify", path("public.key"), other}).exitCode, 0);
}

TEST_F(PublishSigningTest, VerifyAgreesWithOpensslOnBadSignatures)
{
    ASSERT_TRUE(ossl::makeKey(m_Dir.path(), "a"));
    ASSERT_TRUE(ossl::makeKey(m_Dir.path(), "b"));
    const QString pubA = path("a.public.der");
    const QByteArray data = "file server payload\n";
    const QString signedFile = write("signed", data);
    ASSERT_TRUE(ossl::sign(path("a.private.der"), signedFile, signedFile + ".sig"));
    const QByteArray good = ossl::readAll(signedFile + ".sig");
    const QString byB = write("byb", data);
    ASSERT_TRUE(ossl::sign(path("b.private.der"), byB, byB + ".sig"));
    const QString salt20 = write("salt20", data);
    ASSERT_TRUE(ossl::sign(path("a.private.der"), salt20, salt20 + ".sig", 20));

    QByteArray flipped = good;
    flipped[17] = char(flipped[17] ^ 0x01);
    struct Row
    {
        const char *name;
        QByteArray data;
        QByteArray sig;
        bool valid;
    };
    const QList<Row> rows = {
        {"good", data, good, true},
        {"flipped bit", data, flipped, false},
        {"truncated", data, good.left(127), false},
        {"extended", data, good + 'x', false},
        {"empty", data, QByteArray(), false},
        {"other key", data, ossl::readAll(byB + ".sig"), false},
        {"salt length 20", data, ossl::readAll(salt20 + ".sig"), false},
        {"changed file", "file server payload!\n", good, false},
    };
    for (const Row &row : rows) {
        const QString f = write("case", row.data);
        ossl::writeAll(f + ".sig", row.sig);
        const Outcome o = publish({"verify", pubA, f});
        EXPECT_EQ(o.exitCode, row.valid ? 0 : 1) << row.name;
        if (!row.valid) {
            EXPECT_EQ(lineCount(o.err), 1) << row.name << ": " << o.err.toStdString();
        }
        EXPECT_EQ(ossl::verify(pubA, f, f + ".sig"), row.valid) << row.name << " (openssl)";
    }
}

TEST_F(PublishSigningTest, FailuresAndUsageErrors)
{
    ASSERT_TRUE(ossl::makeKey(m_Dir.path(), "a"));
    const QString file = write("file", "x");
    struct Row
    {
        const char *name;
        QStringList args;
        int exitCode;
        QString errContains;
    };
    const QList<Row> rows = {
        {"keygen arity", {"keygen", path("k")}, 2, "usage"},
        {"sign arity", {"sign", path("a.private.der")}, 2, "usage"},
        {"verify arity", {"verify", path("a.public.der"), file, file}, 2, "usage"},
        {"missing signature",
         {"verify", path("a.public.der"), file},
         1,
         "Cannot open file for reading: " + file + ".sig"},
        {"missing key", {"sign", path("nokey"), file}, 1, "Cannot open file for reading"},
        {"sign with public key", {"sign", path("a.public.der"), file}, 1, "no private key"},
        {"missing file",
         {"sign", path("a.private.der"), path("nofile")},
         1,
         "Cannot open file for reading: " + path("nofile")},
        {"unwritable key",
         {"keygen", path("no/dir/priv"), path("pub")},
         1,
         "Cannot open file for writing"},
    };
    for (const Row &row : rows) {
        const Outcome o = publish(row.args);
        EXPECT_EQ(o.exitCode, row.exitCode) << row.name;
        EXPECT_TRUE(o.err.contains(row.errContains)) << row.name << ": " << o.err.toStdString();
        if (row.exitCode == 1) {
            EXPECT_EQ(lineCount(o.err), 1) << row.name;
        }
    }
    EXPECT_FALSE(QFile::exists(file + ".sig"));
}

} // namespace
