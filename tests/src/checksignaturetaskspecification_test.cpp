#include "checksigfunc.h"
#include "checksignaturetaskspecification.h"
#include "crypto.h"
#include "opensslhelper.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThreadPool>
#include <gtest/gtest.h>

#include <cstdio>

namespace {

namespace ossl = OpensslHelper;

const QString EMPTY_SHA512 = "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
                             "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e";

QString sha512Of(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha512).toHex();
}

class CheckSignatureTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { initCrypto(); }

    QString write(const QString &name, const QByteArray &data)
    {
        const QString p = m_Dir.path() + "/" + name;
        EXPECT_TRUE(ossl::writeAll(p, data));
        return p;
    }
    // The RSA path checks against the compiled-in key; the demo private key
    // only matches it when the build uses the demo public key.
    static bool compiledKeyIsDemoKey()
    {
        return ossl::readAll(OV3_PUBLIC_KEY_FILE) ==
               ossl::readAll(OV3_SOURCE_DIR "/keys/demo-only/public.der");
    }
    QString signWithDemoKey(const QString &file)
    {
        EXPECT_TRUE(ossl::sign(OV3_SOURCE_DIR "/keys/demo-only/private.der", file, file + ".sig"));
        return file + ".sig";
    }

    QTemporaryDir m_Dir;
};

TEST_F(CheckSignatureTest, Sha512Verdicts)
{
    // Spans several read blocks and ends inside one.
    QByteArray big(3 * (1 << 20) + 7, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i % 251);
    const QString bigFile = write("big.bin", big);
    const QString small = write("small.txt", "hello\n");
    const QString empty = write("empty", QByteArray());

    struct Row
    {
        const char *name;
        QString path;
        QString sha512;
        bool pass;
    };
    const QList<Row> rows = {
        {"lower case", small, sha512Of("hello\n"), true},
        {"upper case", small, sha512Of("hello\n").toUpper(), true},
        {"empty file", empty, EMPTY_SHA512, true},
        {"multi-block file", bigFile, sha512Of(big), true},
        {"wrong hash", small, sha512Of("hello"), false},
        {"truncated hash", small, sha512Of("hello\n").left(127), false},
        {"hash of another file", bigFile, sha512Of(big.left(big.size() - 1)), false},
    };
    for (const Row &row : rows) {
        CheckSigFunc func(row.path, row.sha512);
        QSignalSpy messages(&func, &ASyncFunc::message);
        EXPECT_EQ(func.run(), row.pass) << row.name;
        EXPECT_EQ(messages.count(), 0) << row.name;
    }
}

TEST_F(CheckSignatureTest, MissingFileIsReported)
{
    const QString missing = m_Dir.path() + "/missing";
    for (const QString &hash : {EMPTY_SHA512, QString()}) {
        CheckSigFunc func(missing, hash);
        QSignalSpy messages(&func, &ASyncFunc::message);
        EXPECT_FALSE(func.run());
        ASSERT_EQ(messages.count(), 1);
        EXPECT_EQ(messages.at(0).at(0).toString(),
                  QString("Could not open file %1 for reading").arg(missing));
    }
}

TEST_F(CheckSignatureTest, EmptyHashChecksTheRsaSignature)
{
    if (!compiledKeyIsDemoKey())
        GTEST_SKIP() << "the build compiles in a key other than the demo key";
    const QByteArray ini = "[Product]\nVersion=3.0.1\n";
    const QString file = write("product.ini", ini);
    const QString sigPath = signWithDemoKey(file);
    const QByteArray sig = ossl::readAll(sigPath);
    ASSERT_EQ(sig.size(), 128);
    EXPECT_TRUE(CheckSigFunc(file, QString()).run());
    EXPECT_FALSE(CheckSigFunc(file, sha512Of("other")).run()) << "a hash given means SHA-512";

    struct Row
    {
        const char *name;
        QByteArray data;
        QByteArray sig;
    };
    QByteArray flipped = sig;
    flipped[40] = char(flipped[40] ^ 0x10);
    ASSERT_TRUE(ossl::makeKey(m_Dir.path(), "other"));
    const QString otherFile = write("other.ini", ini);
    ASSERT_TRUE(ossl::sign(m_Dir.path() + "/other.private.der", otherFile, otherFile + ".sig"));
    const QList<Row> rows = {
        {"flipped bit", ini, flipped},
        {"short signature", ini, sig.left(64)},
        {"long signature", ini, sig + sig},
        {"empty signature", ini, QByteArray()},
        {"other key", ini, ossl::readAll(otherFile + ".sig")},
        {"changed file", QByteArray(ini).replace("3.0.1", "9.9.9"), sig},
    };
    for (const Row &row : rows) {
        const QString f = write("case.ini", row.data);
        ossl::writeAll(f + ".sig", row.sig);
        CheckSigFunc func(f, QString());
        QSignalSpy messages(&func, &ASyncFunc::message);
        EXPECT_FALSE(func.run()) << row.name;
        EXPECT_EQ(messages.count(), 0) << row.name;
    }
}

TEST_F(CheckSignatureTest, MissingSignatureFileFailsTheRsaCheck)
{
    const QString file = write("unsigned.ini", "[Product]\n");
    CheckSigFunc func(file, QString());
    QSignalSpy messages(&func, &ASyncFunc::message);
    EXPECT_FALSE(func.run());
    ASSERT_EQ(messages.count(), 1);
    EXPECT_EQ(messages.at(0).at(0).toString(),
              QString("Could not open file %1.sig for reading").arg(file));
}

void waitUntilEnded(TaskSpecification *task)
{
    for (int i = 0; i < 500 && task->m_TaskState == TaskSpecification::RUNNING; ++i) {
        QThreadPool::globalInstance()->waitForDone(10);
        QCoreApplication::processEvents();
    }
}

TEST_F(CheckSignatureTest, TaskReportsVerdictThenEndsAsConfigured)
{
    const QString file = write("download.bin", "payload");
    const QString missing = m_Dir.path() + "/missing.bin";
    struct Row
    {
        const char *name;
        QString path;
        QString sha512;
        bool failOnMismatch;
        bool pass;
        TaskSpecification::TaskState end;
        QStringList messages;
    };
    const QString failed = "Signature check failed for %1";
    const QList<Row> rows = {
        {"pass", file, sha512Of("payload"), true, true, TaskSpecification::FINISHED, {}},
        {"mismatch, only reported",
         file,
         EMPTY_SHA512,
         false,
         false,
         TaskSpecification::FINISHED,
         {failed.arg(file)}},
        {"mismatch, fails",
         file,
         EMPTY_SHA512,
         true,
         false,
         TaskSpecification::FAILED,
         {failed.arg(file)}},
        {"missing file",
         missing,
         EMPTY_SHA512,
         true,
         false,
         TaskSpecification::FAILED,
         {QString("Could not open file %1 for reading").arg(missing), failed.arg(missing)}},
    };
    for (const Row &row : rows) {
        CheckSignatureTaskSpecification task(row.path, row.sha512, row.failOnMismatch, nullptr,
                                             0.2);
        QStringList journal;
        QObject::connect(&task, &TaskSpecification::message,
                         [&](const QString &m) { journal.append(m); });
        QObject::connect(&task, &CheckSignatureTaskSpecification::checkDone,
                         [&](bool pass, CheckSignatureTaskSpecification *t) {
                             journal.append(QString("checkDone %1").arg(pass));
                             EXPECT_EQ(t, &task);
                             EXPECT_EQ(t->m_TaskState, TaskSpecification::RUNNING)
                                 << "the verdict comes before the end";
                         });
        task.execute();
        waitUntilEnded(&task);
        EXPECT_EQ(task.m_TaskState, row.end) << row.name;
        EXPECT_EQ(journal, row.messages + QStringList{QString("checkDone %1").arg(row.pass)})
            << row.name << ": " << journal.join(" | ").toStdString();
    }
}

// Run by bench/sha512.sh, which supplies a large file and its hash; prints the
// throughput and asserts only the verdict.
TEST(CheckSignatureBenchmark, DISABLED_Sha512Throughput)
{
    const QString file = qEnvironmentVariable("OV3_BENCH_FILE");
    const QString sha512 = qEnvironmentVariable("OV3_BENCH_SHA512");
    if (file.isEmpty() || sha512.isEmpty())
        GTEST_SKIP() << "OV3_BENCH_FILE and OV3_BENCH_SHA512 not set";
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(CheckSigFunc(file, sha512).run());
    const double seconds = timer.nsecsElapsed() / 1e9;
    const double mib = QFileInfo(file).size() / double(1 << 20);
    std::printf("CheckSigFunc SHA-512: %.0f MiB in %.2f s, %.0f MiB/s\n", mib, seconds,
                mib / seconds);
}

} // namespace
