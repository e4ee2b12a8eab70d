#include <QByteArray>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

// `ovpatch detect` over the PE and Mach-O fixtures: the command line names
// every kind with the length the disassembler claims.
namespace {

struct DetectCase
{
    const char *file;
    const char *expected;
};

class OvpatchDetectPeMacho : public ::testing::TestWithParam<DetectCase>
{
};

TEST_P(OvpatchDetectPeMacho, PrintsKindAndLength)
{
    QProcess process;
    process.start(QStringLiteral(OV3_BIN_DIR "/ovpatch"),
                  {"detect", QStringLiteral(OV3_TEST_DATA_DIR "/") + GetParam().file});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
    EXPECT_EQ(process.readAllStandardOutput().toStdString(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, OvpatchDetectPeMacho,
    ::testing::Values(DetectCase{"pe/fixture_x86_v1.exe", "WIN_32_X86 45056\n"},
                      DetectCase{"pe/fixture_x86.dll", "WIN_32_X86 13824\n"},
                      DetectCase{"pe/fixture_x64_v1.exe", "WIN_32_X64 40960\n"},
                      DetectCase{"pe/fixture_x64.dll", "WIN_32_X64 12800\n"},
                      DetectCase{"macho/gen_x86_v1", "MACHO_X86 8256\n"},
                      DetectCase{"macho/gen_x64_v1", "MACHO_X64 8192\n"},
                      DetectCase{"macho/linked_x64_v1", "MACHO_X64 4096\n"},
                      // A universal file is a container of executables, not one.
                      DetectCase{"macho/universal", "UNKNOWN 0\n"}));

} // namespace
