#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "bytes.h"
#include "logcapture.h"
#include "package.h"
#include "streams.h"

using namespace ovpatch;

namespace {

class PackageTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        for (const std::string &file : m_Files)
            std::remove(file.c_str());
    }

    std::string path(const std::string &name)
    {
        m_Files.push_back(::testing::TempDir() + "ovpatch_package_" + std::to_string(getpid()) +
                          "_" + name);
        return m_Files.back();
    }

    std::string writeFile(const std::string &name, const Bytes &bytes)
    {
        const std::string file = path(name);
        EXPECT_EQ(WriteWholeFile(file, bytes.data(), bytes.size()), bytes.size());
        return file;
    }

    static Bytes readFile(const std::string &file)
    {
        std::ifstream in(file, std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    static Bytes header(uint32_t magic, uint32_t checksum, uint32_t directive)
    {
        ByteWriter writer;
        writer.WriteVarUint32(magic);
        writer.WriteVarUint32(checksum);
        writer.WriteVarUint32(directive);
        return toBytes(writer);
    }

    static Bytes package(uint32_t magic, uint32_t checksum, uint32_t directive,
                         const Bytes &payload)
    {
        Bytes bytes = header(magic, checksum, directive);
        ByteWriter block;
        EXPECT_TRUE(block.WriteLzma2(payload.data(), payload.size()));
        const Bytes compressed = toBytes(block);
        bytes.insert(bytes.end(), compressed.begin(), compressed.end());
        return bytes;
    }

private:
    std::vector<std::string> m_Files;
};

const uint32_t kMagic = 132781929;

TEST_F(PackageTest, PlainPackageRoundTripsRealFile)
{
    const std::string input = path("self");
    {
        std::ifstream self("/proc/self/exe", std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(self)), std::istreambuf_iterator<char>());
        ASSERT_EQ(WriteWholeFile(input, bytes.data(), bytes.size()), bytes.size());
    }
    const Bytes original = readFile(input);
    const std::string packed = path("self._lzma2_");
    const std::string output = path("self.out");
    ASSERT_TRUE(PackFile(input, packed, false));
    const Bytes bytes = readFile(packed);
    ASSERT_GT(bytes.size(), 8u);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 4), (Bytes{0xE9, 0xAE, 0xA8, 0x3F}));
    EXPECT_LT(bytes.size(), original.size());
    ASSERT_TRUE(UnpackPackage(packed, output));
    EXPECT_EQ(readFile(output), original);

    // Asking for disassembly still yields a package that unpacks exactly.
    ASSERT_TRUE(PackFile(input, packed, true));
    ASSERT_TRUE(UnpackPackage(packed, output));
    EXPECT_EQ(readFile(output), original);
}

TEST_F(PackageTest, EmptyFile)
{
    const std::string input = writeFile("empty", {});
    const std::string packed = path("empty._lzma2_");
    ASSERT_TRUE(PackFile(input, packed, false));
    const Bytes bytes = readFile(packed);
    // Magic, checksum 0xFFFFFFFF, directive 1, then an LZMA2 block of size 0.
    const Bytes expectedHeader = {0xE9, 0xAE, 0xA8, 0x3F, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0x01};
    ASSERT_EQ(bytes.size(), expectedHeader.size() + 3);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 10), expectedHeader);
    EXPECT_EQ(bytes[11], 0x00);
    EXPECT_EQ(bytes[12], 0x00);

    const std::string output = writeFile("empty.out", {1, 2, 3});
    ASSERT_TRUE(UnpackPackage(packed, output));
    EXPECT_TRUE(readFile(output).empty());
}

TEST_F(PackageTest, FailuresLeaveOutputUntouched)
{
    const Bytes content = toBytes(std::string("packaged content, packaged content"));
    const uint32_t sum = Checksum32(content.data(), content.size());
    Bytes trailing = package(kMagic, sum, 1, content);
    trailing.push_back(0x77);

    const Bytes oneStream = {0xEA, 0x9A, 0xCA, 0x09, 0x01, 0x01, 'x'};
    const Bytes twoStreams = {0xEA, 0x9A, 0xCA, 0x09, 0x02, 0x01, 0x01, 'x', 'y'};
    Bytes notLzma = header(kMagic, sum, 1);
    notLzma.push_back(0x55);

    struct Case
    {
        const char *what;
        Bytes package;
        const char *message; // empty: succeeds
    };
    const std::vector<Case> cases = {
        {"trailing bytes ignored", trailing, ""},
        {"wrong magic", package(kMagic + 1, sum, 1, content), "not lzma file"},
        {"checksum off by one", package(kMagic, sum + 1, 1, content), "crc mismatch"},
        {"directive 3", package(kMagic, sum, 3, content), "Unknown preprocessing dirrective"},
        {"header truncated", {0xE9, 0xAE, 0xA8, 0x3F, 0x01}, "could not read lzma header"},
        {"payload corrupt", notLzma, "could not decompress file"},
        {"directive 2, not a group", package(kMagic, sum, 2, content),
         "could not init dif_and_dis set"},
        {"directive 2, only the diff", package(kMagic, sum, 2, oneStream),
         "dis_and_diff too small"},
        {"directive 2, program not a group", package(kMagic, sum, 2, twoStreams),
         "could not init program_source set"},
    };
    for (const Case &c : cases) {
        const std::string input = writeFile("case", c.package);
        const std::string output = writeFile("case.out", {9, 9});
        LogCapture log;
        const bool ok = UnpackPackage(input, output);
        if (*c.message == 0) {
            EXPECT_TRUE(ok) << c.what;
            EXPECT_EQ(readFile(output), content) << c.what;
            continue;
        }
        EXPECT_FALSE(ok) << c.what;
        EXPECT_EQ(readFile(output), (Bytes{9, 9})) << c.what;
        // The LZMA2 reader adds a line of its own before the package's.
        ASSERT_FALSE(log.messages.empty()) << c.what;
        EXPECT_EQ(log.messages.back(), c.message) << c.what;
    }

    LogCapture log;
    EXPECT_FALSE(UnpackPackage(path("missing"), path("missing.out")));
    EXPECT_TRUE(log.contains("could not open lzma file"));
    EXPECT_FALSE(PackFile(path("missing"), path("missing.out"), false));
    EXPECT_TRUE(log.contains("could not open file"));
    const std::string good = writeFile("good", package(kMagic, sum, 1, content));
    EXPECT_FALSE(UnpackPackage(good, path("no/such/dir/out")));
    EXPECT_TRUE(log.contains("could not write output file"));
}

TEST_F(PackageTest, TruncatedOrFlippedPackagesFailCleanly)
{
    const Bytes content = pseudoRandomBytes(2000, 5);
    const Bytes valid = package(kMagic, Checksum32(content.data(), content.size()), 1, content);
    const std::string output = path("fuzz.out");
    for (size_t n = 1; n < valid.size(); n += 7) {
        const std::string input = writeFile("cut", Bytes(valid.begin(), valid.begin() + n));
        EXPECT_FALSE(UnpackPackage(input, output)) << n;
    }
    for (size_t i = 0; i < valid.size(); i += 3) {
        Bytes flipped = valid;
        flipped[i] ^= 0x20;
        const std::string input = writeFile("flip", flipped);
        std::remove(output.c_str());
        if (UnpackPackage(input, output)) {
            EXPECT_EQ(readFile(output), content) << i;
        }
    }
}

} // namespace
