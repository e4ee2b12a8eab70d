// ovpatch make / apply end to end: exit codes and the one stderr line.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kFixtures = QStringLiteral(OV3_TEST_DATA_DIR "/ovpatch/ensemble/");

struct Outcome
{
    int exitCode;
    QString stderrText;
};

Outcome ovpatch(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(OV3_BIN_DIR "/ovpatch"), arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(OvpatchEnsemble, MakeThenApplyReproducesTheNewFile)
{
    QTemporaryDir dir;
    const QString patch = dir.filePath("patch");
    const QString result = dir.filePath("result");
    EXPECT_EQ(ovpatch({"make", kFixtures + "sample_x64_v1.so", kFixtures + "sample_x64_v2.so", patch}).exitCode, 0);
    const Outcome run = ovpatch({"apply", kFixtures + "sample_x64_v1.so", patch, result});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.stderrText.isEmpty()) << run.stderrText.toStdString();
    EXPECT_EQ(contents(result), contents(kFixtures + "sample_x64_v2.so"));
}

TEST(OvpatchEnsemble, FailureNamesTheStatus)
{
    QTemporaryDir dir;
    const QString patch = dir.filePath("patch");
    ASSERT_EQ(ovpatch({"make", kFixtures + "sample_x64_v1.so", kFixtures + "sample_x64_v2.so", patch}).exitCode, 0);
    // The wrong old file.
    const Outcome run = ovpatch({"apply", kFixtures + "sample_arm_v1.so", patch, dir.filePath("result")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.stderrText.count('\n'), 1);
    EXPECT_TRUE(run.stderrText.contains("PS_CHECKSUM_MISMATCH (8)")) << run.stderrText.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("result")));

    const Outcome notPatch = ovpatch({"apply", kFixtures + "sample_arm_v1.so", kFixtures + "sample.c", dir.filePath("r")});
    EXPECT_EQ(notPatch.exitCode, 1);
    EXPECT_TRUE(notPatch.stderrText.contains("PS_BAD_MAGIC (5)")) << notPatch.stderrText.toStdString();

    EXPECT_EQ(ovpatch({"make", dir.filePath("missing"), kFixtures + "sample.c", patch}).exitCode, 1);
}

TEST(OvpatchEnsemble, WrongArgumentCountIsUsageError)
{
    EXPECT_EQ(ovpatch({"apply", "a", "b"}).exitCode, 2);
    EXPECT_EQ(ovpatch({"make", "a", "b", "c", "d"}).exitCode, 2);
}

} // namespace
