#include <algorithm>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "programroundtrip.h"

using namespace ovpatch;

namespace {

std::string paramName(const char *file)
{
    std::string name = file;
    for (char &c : name)
        if (!isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

size_t countKind(const DisassembledProgram &program, InstructionKind kind)
{
    return std::count_if(program.instructions().begin(), program.instructions().end(),
                         [kind](const Instruction *i) { return i->kind() == kind; });
}

struct RealFile
{
    const char *name;
    ExecutableType kind;
    bool rebuildsRelocations; // the relocation table becomes one instruction
};

class RealElfRoundTrip : public ::testing::TestWithParam<RealFile>
{
};

// Parse, encode, save, load and assemble give back exactly the bytes of the
// executable.
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

    // The program really is made of branches and addresses, not just bytes.
    std::unique_ptr<DisassembledProgram> program;
    ASSERT_EQ(ParseExecutable(input.data(), input.size(), &program), PS_OK);
    const size_t branches = countKind(*program, INSN_REL32) + countKind(*program, INSN_REL32_ARM);
    EXPECT_GE(branches, 5u);
    EXPECT_EQ(countKind(*program, INSN_MAKE_ELF_RELOCS) +
                  countKind(*program, INSN_MAKE_ELF_ARM_RELOCS),
              file.rebuildsRelocations ? 1u : 0u);

    const RoundTrip result = roundTrip(input);
    ASSERT_EQ(result.status, PS_OK) << "failed at " << result.step;
    EXPECT_TRUE(result.assembled == Bytes(input.begin(), input.begin() + length));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RealElfRoundTrip,
                         ::testing::Values(RealFile{"libattr-amd64.so", EXE_ELF_64_X64, false},
                                           RealFile{"libacl-amd64.so", EXE_ELF_64_X64, false},
                                           // The i386 libraries' relocation tables start with the
                                           // init and fini array entries, which are no abs32
                                           // fields: the tables stay bytes.
                                           RealFile{"libattr-i386.so", EXE_ELF_32_X86, false},
                                           RealFile{"libacl-i386.so", EXE_ELF_32_X86, false},
                                           RealFile{"i386-branches.so", EXE_ELF_32_X86, true},
                                           RealFile{"libattr-armhf.so", EXE_ELF_32_ARM, true},
                                           RealFile{"libacl-armhf.so", EXE_ELF_32_ARM, true},
                                           RealFile{"arm-branches.so", EXE_ELF_32_ARM, true}),
                         [](const ::testing::TestParamInfo<RealFile> &info) {
                             return paramName(info.param.name);
                         });

// Large real libraries from a cache filled by tests/data/elf/fetch-large.sh.
class LargeElfRoundTrip : public ::testing::TestWithParam<const char *>
{
};

struct SectionRange
{
    uint32_t type, offset, size;
};

std::vector<SectionRange> elf32Sections(const Bytes &b)
{
    auto u32 = [&b](size_t at) {
        return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
               uint32_t(b[at + 3]) << 24;
    };
    std::vector<SectionRange> sections;
    const uint32_t shoff = u32(32);
    const uint32_t shnum = b[48] | b[49] << 8;
    for (uint32_t i = 0; i < shnum; ++i) {
        const size_t at = shoff + 40 * size_t(i);
        sections.push_back({u32(at + 4), u32(at + 16), u32(at + 20)});
    }
    return sections;
}

TEST_P(LargeElfRoundTrip, AssemblesBackExceptWhereArmRelocationsDropBytes)
{
    const char *env = std::getenv("OV3_ELF_CACHE");
    const std::string cache = env ? env : OV3_SOURCE_DIR "/build/elf-cache";
    Bytes input;
    if (!readFile(cache + "/" + GetParam(), &input))
        GTEST_SKIP() << GetParam() << " not in " << cache
                     << "; run tests/data/elf/fetch-large.sh to fetch the large libraries";

    ExecutableType kind = EXE_UNKNOWN;
    size_t length = 0;
    ASSERT_EQ(DetectExecutableKind(input.data(), input.size(), &kind, &length), PS_OK);
    ASSERT_EQ(length, input.size());
    const RoundTrip result = roundTrip(input);
    ASSERT_EQ(result.status, PS_OK) << "failed at " << result.step;
    if (result.assembled == input)
        return;

    // ARM: a relocation table whose relative entries stop matching the
    // collected addresses loses the matched entries and the mismatching one
    // (the ARM relocation-section rule). Everything else must survive.
    ASSERT_EQ(kind, EXE_ELF_32_ARM) << "only ARM relocation tables may lose bytes";
    ASSERT_LT(result.assembled.size(), input.size());
    const size_t removed = input.size() - result.assembled.size();
    const size_t at =
        std::mismatch(result.assembled.begin(), result.assembled.end(), input.begin()).first -
        result.assembled.begin();
    EXPECT_TRUE(std::equal(result.assembled.begin() + at, result.assembled.end(),
                           input.begin() + at + removed))
        << "more than one range differs";
    EXPECT_EQ(removed % 8, 0u);
    bool inRelocations = false;
    for (const SectionRange &s : elf32Sections(input))
        inRelocations |=
            s.type == 9 && at >= s.offset && at < s.offset + s.size && removed <= s.size;
    EXPECT_TRUE(inRelocations) << removed << " bytes lost at " << at
                               << ", outside every relocation section";
}

INSTANTIATE_TEST_SUITE_P(Cache, LargeElfRoundTrip,
                         ::testing::Values("libc-i386.so", "libc-armhf.so", "libc-amd64.so",
                                           "libstdc++-i386.so", "libstdc++-armhf.so",
                                           "libstdc++-amd64.so"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             return paramName(info.param);
                         });

} // namespace
