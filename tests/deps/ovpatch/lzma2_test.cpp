#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "bytes.h"
#include "logcapture.h"
#include "patchstatus.h"
#include "streams.h"

using namespace ovpatch;

namespace {

Bytes lzma2Block(const Bytes &data)
{
    ByteWriter writer;
    EXPECT_TRUE(writer.WriteLzma2(data.data(), data.size()));
    return toBytes(writer);
}

// Text that compresses well but not trivially.
Bytes sampleText(size_t n)
{
    std::string text;
    for (size_t i = 0; text.size() < n; ++i)
        text += "line " + std::to_string(i * 7919 % 1000) + " of the sample\n";
    text.resize(n);
    return toBytes(text);
}

TEST(Lzma2, RoundTripsAndStopsAfterEndMarker)
{
    for (const Bytes &data :
         {Bytes{}, Bytes{42}, sampleText(100000), pseudoRandomBytes(70000, 9)}) {
        Bytes block = lzma2Block(data);
        const size_t blockSize = block.size();
        block.push_back(0xAB);
        ByteReader reader(block.data(), block.size());
        ByteWriter out;
        ASSERT_TRUE(out.WriteByte('>'));
        ASSERT_TRUE(reader.ReadLzma2(&out)) << data.size();
        EXPECT_EQ(reader.position(), blockSize);
        ASSERT_EQ(out.length(), data.size() + 1);
        EXPECT_EQ(Bytes(out.data() + 1, out.data() + out.length()), data);
    }
}

TEST(Lzma2, EmptyBlockIsPropertySizeAndEndMarker)
{
    const Bytes block = lzma2Block({});
    ASSERT_EQ(block.size(), 3u);
    EXPECT_EQ(block[1], 0x00);
    EXPECT_EQ(block[2], 0x00); // the LZMA2 end marker
    ByteReader reader(block.data(), block.size());
    ByteWriter out;
    EXPECT_TRUE(reader.ReadLzma2(&out));
    EXPECT_EQ(out.length(), 0u);
    EXPECT_TRUE(reader.empty());
}

TEST(Lzma2, ReaderSourceCompressesFromCursor)
{
    const Bytes data = sampleText(5000);
    ByteReader source(data.data(), data.size());
    ASSERT_TRUE(source.Skip(1000));
    ByteWriter block;
    ASSERT_TRUE(block.WriteLzma2(source));
    ByteReader reader(block.data(), block.length());
    ByteWriter out;
    ASSERT_TRUE(reader.ReadLzma2(&out));
    EXPECT_EQ(toBytes(out), Bytes(data.begin() + 1000, data.end()));
}

// A raw LZMA2 stream from the xz command line, an encoder independent of
// ours, decodes once prefixed with its property byte and size varint.
TEST(Lzma2, DecodesStreamOfXzCommandLine)
{
    const std::string base = ::testing::TempDir() + "ovpatch_lzma2_xz_" + std::to_string(getpid());
    const Bytes data = sampleText(300000);
    {
        std::ofstream file(base, std::ios::binary);
        file.write(reinterpret_cast<const char *>(data.data()), data.size());
    }
    const std::string command =
        "xz --format=raw --lzma2=preset=9 --stdout '" + base + "' > '" + base + ".raw'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream raw(base + ".raw", std::ios::binary);
    const Bytes stream((std::istreambuf_iterator<char>(raw)), std::istreambuf_iterator<char>());
    std::remove(base.c_str());
    std::remove((base + ".raw").c_str());
    ASSERT_FALSE(stream.empty());

    ByteWriter block;
    ASSERT_TRUE(block.WriteByte(28)); // 64 MiB dictionary, the size of preset 9
    ASSERT_TRUE(block.WriteVarSize(data.size()));
    ASSERT_TRUE(block.Write(stream.data(), stream.size()));
    ASSERT_TRUE(block.Write("tail", 4));
    ByteReader reader(block.data(), block.length());
    ByteWriter out;
    ASSERT_TRUE(reader.ReadLzma2(&out));
    EXPECT_EQ(toBytes(out), data);
    EXPECT_EQ(toBytes(reader), toBytes(std::string("tail")));
}

TEST(Lzma2, CorruptBlocksFailWithoutMovingAnything)
{
    const Bytes data = sampleText(20000);
    const Bytes good = lzma2Block(data);

    struct Case
    {
        const char *what;
        Bytes block;
        std::string message;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}, "Error read LZMA2 properties"});
    cases.push_back({"size truncated", {good[0], 0x80}, "Error read LZMA2 unpack size"});
    Bytes shortSize = good;
    // The size varint is announced one byte too large (varint of 20000 is 3 bytes).
    ByteWriter patched;
    patched.WriteByte(good[0]);
    patched.WriteVarSize(data.size() + 1);
    patched.Write(good.data() + 4, good.size() - 4);
    cases.push_back({"decodes to fewer bytes", toBytes(patched), "Error uncompressing data "});
    ByteWriter smaller;
    smaller.WriteByte(good[0]);
    smaller.WriteVarSize(data.size() - 1);
    smaller.Write(good.data() + 4, good.size() - 4);
    cases.push_back({"decodes to more bytes", toBytes(smaller), "Error uncompressing data "});
    cases.push_back(
        {"truncated stream", Bytes(good.begin(), good.end() - 5), "Error uncompressing data "});
    Bytes badProperty = good;
    badProperty[0] = 41;
    cases.push_back({"invalid property", badProperty, "Error uncompressing data "});
    Bytes flipped = good;
    flipped[good.size() / 2] ^= 0x10;
    cases.push_back({"flipped byte", flipped, "Error uncompressing data "});
    // A size field of nearly 4 GiB backed by a few bytes must not allocate it.
    cases.push_back(
        {"huge size", {0x10, 0xFE, 0xFF, 0xFF, 0xFF, 0x0F, 0x00}, "Error uncompressing data "});

    for (const Case &c : cases) {
        LogCapture log;
        ByteReader reader(c.block.data(), c.block.size());
        ByteWriter out;
        ASSERT_TRUE(out.Write("keep", 4));
        EXPECT_FALSE(reader.ReadLzma2(&out)) << c.what;
        EXPECT_EQ(reader.position(), 0u) << c.what;
        EXPECT_EQ(toBytes(out), toBytes(std::string("keep"))) << c.what;
        ASSERT_EQ(log.messages.size(), 1u) << c.what;
        EXPECT_EQ(log.messages[0].compare(0, c.message.size(), c.message), 0)
            << c.what << ": " << log.messages[0];
        EXPECT_EQ(log.levels[0], orvlog::LogLevel_ERROR);
    }
}

TEST(Lzma2, FailedWriterCannotReceive)
{
    const Bytes good = lzma2Block(sampleText(100));
    ByteWriter out;
    out.Reserve(ByteWriter::kFailedCapacity);
    ASSERT_TRUE(out.failed());
    LogCapture log;
    ByteReader reader(good.data(), good.size());
    EXPECT_FALSE(reader.ReadLzma2(&out));
    EXPECT_TRUE(log.contains("unable to allocate sink space"));
}

TEST(ExecutableType, DisplayNames)
{
    EXPECT_STREQ(ExecutableTypeName(EXE_UNKNOWN), "UNKNOWN");
    EXPECT_STREQ(ExecutableTypeName(EXE_WIN_32_X86), "WIN_32_X86");
    EXPECT_STREQ(ExecutableTypeName(EXE_ELF_32_X86), "EXE_ELF_32_X86");
    EXPECT_STREQ(ExecutableTypeName(EXE_ELF_32_ARM), "ELF_32_ARM");
    EXPECT_STREQ(ExecutableTypeName(EXE_WIN_32_X64), "WIN_32_X64");
    EXPECT_STREQ(ExecutableTypeName(EXE_ELF_64_X64), "ELF_64_X64");
    EXPECT_STREQ(ExecutableTypeName(EXE_MACHO_X86), "MACHO_X86");
    EXPECT_STREQ(ExecutableTypeName(EXE_MACHO_X64), "MACHO_X64");
    EXPECT_STREQ(ExecutableTypeName(static_cast<ExecutableType>(9)), "UNKNOWN");
    EXPECT_STREQ(ExecutableTypeName(static_cast<ExecutableType>(-1)), "UNKNOWN");
    EXPECT_STREQ(PatchStatusName(PS_CHECKSUM_MISMATCH), "PS_CHECKSUM_MISMATCH");
    EXPECT_EQ(static_cast<uint32_t>(PS_CHECKSUM_MISMATCH), 8u);
    EXPECT_EQ(static_cast<uint32_t>(PS_TRIM_FAILED), 28u);
}

} // namespace
