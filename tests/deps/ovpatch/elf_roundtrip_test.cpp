#include <string>

#include <gtest/gtest.h>

#include "programroundtrip.h"

using namespace ovpatch;

namespace {

struct RealFile
{
    const char *name;
    ExecutableType kind;
};

class RealElfRoundTrip : public ::testing::TestWithParam<RealFile>
{
};

TEST_P(RealElfRoundTrip, AssemblesBackToTheDetectedBytes)
{
    const RealFile &file = GetParam();
    Bytes input;
    ASSERT_TRUE(readFile(std::string(OV3_TEST_DATA_DIR "/elf/") + file.name, &input))
        << "fixture missing: " << file.name << " (tests/data/elf/regenerate.sh)";

    ExecutableType kind = EXE_UNKNOWN;
    size_t length = 0;
    ASSERT_EQ(DetectExecutableKind(input.data(), input.size(), &kind, &length), PS_OK);
    EXPECT_EQ(kind, file.kind);
    EXPECT_EQ(length, input.size());

    const RoundTrip result = roundTrip(input);
    ASSERT_EQ(result.status, PS_OK) << "failed at " << result.step;
    EXPECT_TRUE(result.assembled == Bytes(input.begin(), input.begin() + length));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RealElfRoundTrip,
                         ::testing::Values(RealFile{"libattr-amd64.so", EXE_ELF_64_X64},
                                           RealFile{"libacl-amd64.so", EXE_ELF_64_X64},
                                           RealFile{"libattr-i386.so", EXE_ELF_32_X86},
                                           RealFile{"libacl-i386.so", EXE_ELF_32_X86},
                                           RealFile{"libattr-armhf.so", EXE_ELF_32_ARM},
                                           RealFile{"libacl-armhf.so", EXE_ELF_32_ARM}),
                         [](const ::testing::TestParamInfo<RealFile> &info) {
                             std::string name = info.param.name;
                             for (char &c : name)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

} // namespace
