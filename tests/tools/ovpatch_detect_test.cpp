#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct ToolRun
{
    int exitCode = -1;
    QByteArray out, err;
};

ToolRun ovpatch(const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral(OV3_BIN_DIR "/ovpatch"), args);
    ToolRun run;
    if (!process.waitForFinished(30000))
        return run;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QString fixture(const char *name)
{
    return QStringLiteral(OV3_TEST_DATA_DIR "/elf/") + QString::fromLatin1(name);
}

struct DetectCase
{
    const char *file;
    const char *expected;
};

class OvpatchDetect : public ::testing::TestWithParam<DetectCase>
{
};

TEST_P(OvpatchDetect, PrintsKindAndLength)
{
    const ToolRun run = ovpatch({"detect", fixture(GetParam().file)});
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.out.toStdString(), GetParam().expected);
    EXPECT_TRUE(run.err.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Fixtures, OvpatchDetect,
                         ::testing::Values(DetectCase{"libattr-amd64.so", "ELF_64_X64 26544\n"},
                                           DetectCase{"libattr-i386.so", "EXE_ELF_32_X86 21812\n"},
                                           DetectCase{"libattr-armhf.so", "ELF_32_ARM 13632\n"},
                                           DetectCase{"branches.c", "UNKNOWN 0\n"}));

TEST(OvpatchDetect, LengthLeavesOutAppendedBytesAndEmptyFilesAreUnknown)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile source(fixture("libacl-i386.so"));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    QByteArray bytes = source.readAll();
    const int original = bytes.size();
    bytes.append(QByteArray(300, 'x'));
    QFile appended(dir.filePath("appended"));
    ASSERT_TRUE(appended.open(QIODevice::WriteOnly));
    ASSERT_EQ(appended.write(bytes), bytes.size());
    appended.close();
    ToolRun run = ovpatch({"detect", appended.fileName()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.toStdString(), "EXE_ELF_32_X86 " + std::to_string(original) + "\n");

    QFile empty(dir.filePath("empty"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    run = ovpatch({"detect", empty.fileName()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.toStdString(), "UNKNOWN 0\n");
}

TEST(OvpatchDetect, ReportsUnreadableFilesAndUsageErrors)
{
    QTemporaryDir dir;
    ToolRun run = ovpatch({"detect", dir.filePath("missing")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(run.err.count('\n'), 1);

    run = ovpatch({"detect", dir.path()});
    EXPECT_EQ(run.exitCode, 1);

    EXPECT_EQ(ovpatch({"detect"}).exitCode, 2);
    EXPECT_EQ(ovpatch({"detect", fixture("libattr-i386.so"), fixture("libattr-i386.so")}).exitCode,
              2);
}

} // namespace
