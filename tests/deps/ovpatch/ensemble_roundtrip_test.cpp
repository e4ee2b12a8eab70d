#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "bytes.h"
#include "ensemble.h"
#include "ensemble_create.h"
#include "executable_elements.h"
#include "streams.h"

using namespace ovpatch;

namespace {

// A name without a directory is one of the ensemble fixtures; the PE and
// Mach-O pairs are shared with the disassemblers' tests.
Bytes readFixture(const std::string &name)
{
    const std::string path = name.find('/') == std::string::npos ? "ovpatch/ensemble/" + name : name;
    std::ifstream in(std::string(OV3_TEST_DATA_DIR) + "/" + path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes makePatch(const Bytes &old, const Bytes &next)
{
    ByteWriter patch;
    EXPECT_EQ(CreateEnsemblePatch(old.data(), old.size(), next.data(), next.size(), &patch), PS_OK);
    return toBytes(patch);
}

// The kinds of the patch's element list, read back from its body.
std::vector<uint32_t> elementKinds(const Bytes &patch)
{
    ByteReader reader(patch.data(), patch.size());
    EnsembleHeader header;
    EXPECT_EQ(ReadEnsembleHeader(&reader, &header), PS_OK);
    ByteWriter body;
    EXPECT_TRUE(reader.ReadLzma2(&body));
    ReaderGroup group;
    EXPECT_TRUE(group.Parse(body.data(), body.length()));
    EXPECT_EQ(group.count(), 10u);
    uint32_t count = 0;
    EXPECT_TRUE(group.stream(0)->ReadVarUint32(&count));
    std::vector<uint32_t> kinds(count);
    for (uint32_t &kind : kinds)
        EXPECT_TRUE(group.stream(0)->ReadVarUint32(&kind));
    return kinds;
}

Bytes apply(const Bytes &old, const Bytes &patch, PatchStatus expected = PS_OK)
{
    ByteWriter result;
    EXPECT_EQ(ApplyEnsembleToMemory(old.data(), old.size(), patch.data(), patch.size(), &result), expected);
    return toBytes(result);
}

struct PairCase
{
    const char *name;
    std::string oldFile;
    std::string newFile;
    ExecutableType kind;
};

class EnsembleRoundTrip : public ::testing::TestWithParam<PairCase>
{
};

// Both directions, so that removed code is covered as well as added code.
TEST_P(EnsembleRoundTrip, ReproducesTheNewFileThroughItsElement)
{
    const PairCase &c = GetParam();
    const Bytes v1 = readFixture(c.oldFile);
    const Bytes v2 = readFixture(c.newFile);
    ASSERT_FALSE(v1.empty());
    ASSERT_NE(v1, v2);
    for (const auto &[old, next] : {std::make_pair(v1, v2), std::make_pair(v2, v1)}) {
        const Bytes patch = makePatch(old, next);
        EXPECT_EQ(elementKinds(patch), std::vector<uint32_t>{uint32_t(c.kind)});
        EXPECT_EQ(apply(old, patch), next);
    }
}

const PairCase kPairs[] = {
    {"ElfX64", "sample_x64_v1.so", "sample_x64_v2.so", EXE_ELF_64_X64},
    {"ElfX86", "sample_x86_v1.so", "sample_x86_v2.so", EXE_ELF_32_X86},
    {"ElfArm", "sample_arm_v1.so", "sample_arm_v2.so", EXE_ELF_32_ARM},
    {"Pe32", "pe/fixture_x86_v1.exe", "pe/fixture_x86_v2.exe", EXE_WIN_32_X86},
    {"Pe32Plus", "pe/fixture_x64_v1.exe", "pe/fixture_x64_v2.exe", EXE_WIN_32_X64},
    {"MachoX64", "macho/linked_x64_v1", "macho/linked_x64_v2", EXE_MACHO_X64},
    {"MachoX86", "macho/gen_x86_v1", "macho/gen_x86_v2", EXE_MACHO_X86},
    // Real Debian libraries; two different ones, since only one version of
    // each is checked in, which still has to come out bit-exact.
    {"DebianI386", "elf/libattr-i386.so", "elf/libacl-i386.so", EXE_ELF_32_X86},
    {"DebianArmhf", "elf/libattr-armhf.so", "elf/libacl-armhf.so", EXE_ELF_32_ARM},
    {"DebianAmd64", "elf/libattr-amd64.so", "elf/libacl-amd64.so", EXE_ELF_64_X64},
};

INSTANTIATE_TEST_SUITE_P(Fixtures, EnsembleRoundTrip, ::testing::ValuesIn(kPairs),
                         [](const ::testing::TestParamInfo<PairCase> &info) { return info.param.name; });

TEST(EnsembleMake, FilesWithoutExecutablesGiveZeroElements)
{
    const Bytes old = pseudoRandomBytes(3000, 1);
    Bytes next = old;
    next.insert(next.begin() + 1000, 40, 0x5A);
    next[2500] ^= 0xFF;
    const Bytes patch = makePatch(old, next);
    EXPECT_TRUE(elementKinds(patch).empty());
    EXPECT_EQ(apply(old, patch), next);
}

TEST(EnsembleMake, EmptyNewFile)
{
    const Bytes old = readFixture("sample_x86_v1.so");
    const Bytes patch = makePatch(old, Bytes());
    EXPECT_EQ(apply(old, patch), Bytes());
}

// An executable that turns into something else keeps no element.
TEST(EnsembleMake, ExecutableReplacedByText)
{
    const Bytes old = readFixture("sample_x64_v1.so");
    const Bytes next = toBytes(std::string("#!/bin/sh\necho replaced\n"));
    const Bytes patch = makePatch(old, next);
    EXPECT_TRUE(elementKinds(patch).empty());
    EXPECT_EQ(apply(old, patch), next);
}

TEST(EnsembleApply, RefusesAnOldFileChangedAfterMaking)
{
    Bytes old = readFixture("sample_x86_v1.so");
    const Bytes patch = makePatch(old, readFixture("sample_x86_v2.so"));
    old[old.size() / 2] ^= 1;
    apply(old, patch, PS_CHECKSUM_MISMATCH);
}

// A universal file of two slices (an x86 and an ARM object here: slice
// detection accepts any executable format) pairs its elements by kind.
Bytes universal(const Bytes &first, const Bytes &second)
{
    Bytes file(4096, 0);
    auto put = [&file](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            file[at + i] = uint8_t(value >> (24 - 8 * i));
    };
    put(0, 0xCAFEBABE);
    put(4, 2);
    put(8 + 8, 4096);
    put(8 + 12, uint32_t(first.size()));
    const size_t secondOffset = (4096 + first.size() + 4095) / 4096 * 4096;
    put(28 + 8, uint32_t(secondOffset));
    put(28 + 12, uint32_t(second.size()));
    file.insert(file.end(), first.begin(), first.end());
    file.resize(secondOffset, 0);
    file.insert(file.end(), second.begin(), second.end());
    return file;
}

TEST(ExecutableElements, UniversalFileSlices)
{
    const Bytes x86 = readFixture("sample_x86_v1.so");
    const Bytes arm = readFixture("sample_arm_v1.so");
    const Bytes file = universal(x86, arm);
    const auto elements = FindExecutableElements(file.data(), file.size());
    ASSERT_EQ(elements.size(), 2u);
    EXPECT_EQ(elements[0].offset, 4096u);
    EXPECT_EQ(elements[0].type, EXE_ELF_32_X86);
    EXPECT_LE(elements[0].length, x86.size());
    EXPECT_EQ(elements[1].type, EXE_ELF_32_ARM);
    EXPECT_EQ(elements[1].offset + arm.size(), file.size());

    // A slice reaching past the end ends the scan before any element, and
    // the file as a whole is no executable.
    Bytes broken = universal(x86, arm);
    broken[8 + 12] = 0x7F;
    EXPECT_TRUE(FindExecutableElements(broken.data(), broken.size()).empty());

    // A universal Mach-O file of real slices.
    const Bytes fat = readFixture("macho/universal");
    const auto slices = FindExecutableElements(fat.data(), fat.size());
    ASSERT_EQ(slices.size(), 2u);
    EXPECT_NE(slices[0].type, slices[1].type);
    for (const auto &slice : slices)
        EXPECT_TRUE(slice.type == EXE_MACHO_X86 || slice.type == EXE_MACHO_X64);

    // Under a page the magic is not looked at: the lone object is found.
    EXPECT_EQ(FindExecutableElements(arm.data(), arm.size()).size(), 1u);
}

TEST(EnsembleRoundTrip, UniversalFile)
{
    const Bytes old = universal(readFixture("sample_x86_v1.so"), readFixture("sample_arm_v1.so"));
    const Bytes next = universal(readFixture("sample_x86_v2.so"), readFixture("sample_arm_v2.so"));
    const Bytes patch = makePatch(old, next);
    EXPECT_EQ(elementKinds(patch), (std::vector<uint32_t>{EXE_ELF_32_X86, EXE_ELF_32_ARM}));
    EXPECT_EQ(apply(old, patch), next);
}

} // namespace

namespace {

// libcrypto.so.3 of two Debian 12 updates of libssl3, fetched once into the
// cache the benchmark script uses too. Skipped, visibly, where the packages
// cannot be downloaded.
std::string fetchLibcrypto(const std::string &version)
{
    const std::string dir = std::string(OV3_SOURCE_DIR) + "/bench/.cache/libssl3_" + version;
    const std::string file = dir + "/usr/lib/x86_64-linux-gnu/libcrypto.so.3";
    if (access(file.c_str(), R_OK) == 0)
        return file;
    const std::string command = "mkdir -p '" + dir + "' && cd '" + dir + "' && apt-get download libssl3=" + version
        + " >/dev/null 2>&1 && dpkg -x libssl3_*.deb . && rm -f libssl3_*.deb";
    return std::system(command.c_str()) == 0 && access(file.c_str(), R_OK) == 0 ? file : std::string();
}

Bytes readPath(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(EnsembleRealPair, Libcrypto)
{
#ifdef __SANITIZE_ADDRESS__
    // Making a patch of a 4.7 MB library takes many minutes under the
    // sanitizers; the crafted and small real pairs cover the parsers there.
    GTEST_SKIP() << "too slow under the sanitizers; the plain build runs it";
#endif
    const std::string old = fetchLibcrypto("3.0.17-1~deb12u2");
    const std::string next = fetchLibcrypto("3.0.20-1~deb12u2");
    if (old.empty() || next.empty())
        GTEST_SKIP() << "libssl3 3.0.17-1~deb12u2 / 3.0.20-1~deb12u2 not downloadable";
    const Bytes oldBytes = readPath(old);
    const Bytes newBytes = readPath(next);
    const Bytes patch = makePatch(oldBytes, newBytes);
    EXPECT_EQ(elementKinds(patch), std::vector<uint32_t>{EXE_ELF_64_X64});
    EXPECT_EQ(apply(oldBytes, patch), newBytes);
}

} // namespace
