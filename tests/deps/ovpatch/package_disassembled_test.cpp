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

Bytes readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string scratch(const std::string &name)
{
    return ::testing::TempDir() + "ovpatch_disassembled_" + std::to_string(getpid()) + "_" + name;
}

std::string fixture(const std::string &name)
{
    const std::string path = name.find('/') == std::string::npos ? "ovpatch/ensemble/" + name : name;
    return std::string(OV3_TEST_DATA_DIR) + "/" + path;
}

// The directive and the decoded payload group of a package.
uint32_t directiveOf(const Bytes &package, ReaderGroup *group = nullptr, ByteWriter *payload = nullptr)
{
    ByteReader reader(package.data(), package.size());
    uint32_t magic = 0, checksum = 0, directive = 0;
    EXPECT_TRUE(reader.ReadVarUint32(&magic) && reader.ReadVarUint32(&checksum) && reader.ReadVarUint32(&directive));
    if (group) {
        EXPECT_TRUE(reader.ReadLzma2(payload));
        EXPECT_TRUE(group->Parse(payload->data(), payload->length()));
    }
    return directive;
}

struct PackCase
{
    const char *file;
    size_t programs;
};

class DisassembledPackage : public ::testing::TestWithParam<PackCase>
{
};

TEST_P(DisassembledPackage, UnpacksToTheSameBytesAsPlain)
{
    const std::string input = fixture(GetParam().file);
    const std::string plain = scratch("plain");
    const std::string disassembled = scratch("disassembled");
    const std::string output = scratch("output");
    ASSERT_TRUE(PackFile(input, plain, false));
    ASSERT_TRUE(PackFile(input, disassembled, true));

    ReaderGroup group;
    ByteWriter payload;
    EXPECT_EQ(directiveOf(readFile(plain)), 1u);
    EXPECT_EQ(directiveOf(readFile(disassembled), &group, &payload), 2u);
    // The programs and the diff.
    EXPECT_EQ(group.count(), GetParam().programs + 1);

    ASSERT_TRUE(UnpackPackage(plain, output));
    EXPECT_EQ(readFile(output), readFile(input));
    std::remove(output.c_str());
    ASSERT_TRUE(UnpackPackage(disassembled, output));
    EXPECT_EQ(readFile(output), readFile(input));
    for (const std::string &f : {plain, disassembled, output})
        std::remove(f.c_str());
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DisassembledPackage,
                         ::testing::Values(PackCase{"sample_x64_v2.so", 1}, PackCase{"sample_x86_v2.so", 1},
                                           PackCase{"sample_arm_v2.so", 1}, PackCase{"pe/fixture_x86_v2.exe", 1},
                                           PackCase{"pe/fixture_x64_v2.exe", 1}, PackCase{"macho/universal", 2}));

TEST(DisassembledPackageFallback, FileWithoutExecutableIsPackedPlain)
{
    const std::string input = fixture("sample.c");
    const std::string packed = scratch("text");
    LogCapture log;
    ASSERT_TRUE(PackFile(input, packed, true));
    EXPECT_EQ(directiveOf(readFile(packed)), 1u);
    EXPECT_FALSE(log.contains("falling back to default compression"));
    std::remove(packed.c_str());
}

// A package whose program stream was damaged after packing.
TEST(DisassembledPackageFailure, DamagedProgramOrDiff)
{
    const std::string packed = scratch("packed");
    ASSERT_TRUE(PackFile(fixture("sample_x86_v1.so"), packed, true));
    const Bytes original = readFile(packed);
    ReaderGroup group;
    ByteWriter payload;
    ASSERT_EQ(directiveOf(original, &group, &payload), 2u);

    // Rebuild the package with one stream replaced.
    auto rebuilt = [&](size_t replaced, const Bytes &bytes) {
        ByteWriter image;
        image.WriteVarUint32(GROUP_MAGIC);
        image.WriteVarSize(group.count());
        for (size_t i = 0; i < group.count(); ++i)
            image.WriteVarSize(i == replaced ? bytes.size() : group.stream(i)->remaining());
        for (size_t i = 0; i < group.count(); ++i) {
            const Bytes stream = i == replaced ? bytes : toBytes(*group.stream(i));
            image.Write(stream.data(), stream.size());
        }
        ByteWriter package;
        ByteReader header(original.data(), original.size());
        uint32_t v = 0;
        for (int k = 0; k < 3; ++k) {
            header.ReadVarUint32(&v);
            package.WriteVarUint32(v);
        }
        package.WriteLzma2(image.data(), image.length());
        const std::string path = scratch("rebuilt");
        WriteWholeFile(path, package.data(), package.length());
        return path;
    };

    struct Case
    {
        size_t stream;
        Bytes bytes;
        const char *message;
    };
    ReaderGroup program;
    ASSERT_TRUE(program.Parse(*group.stream(0)));
    Bytes truncatedProgram = toBytes(*group.stream(0));
    // An image with a stray byte in stream 8 is no encoded program.
    {
        WriterGroup streams;
        for (size_t i = 0; i < 10; ++i)
            streams.stream(i)->Write(program.stream(i)->cursor(), program.stream(i)->remaining());
        streams.stream(8)->WriteByte(1);
        ByteWriter image;
        streams.WriteImage(&image);
        truncatedProgram = toBytes(image);
    }
    const Case cases[] = {
        {0, Bytes{1, 2, 3}, "could not init program_source set"},
        {0, truncatedProgram, "could not read encoded program"},
        {1, Bytes{9}, "could not apply diff"},
    };
    const std::string output = scratch("output");
    for (const Case &c : cases) {
        LogCapture log;
        const std::string path = rebuilt(c.stream, c.bytes);
        EXPECT_FALSE(UnpackPackage(path, output));
        EXPECT_TRUE(log.contains(c.message)) << c.message;
        EXPECT_EQ(access(output.c_str(), F_OK), -1);
        std::remove(path.c_str());
    }
    std::remove(packed.c_str());
}

} // namespace
