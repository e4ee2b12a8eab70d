#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "bytes.h"
#include "streams.h"

using namespace ovpatch;

namespace {

struct VarintCase
{
    uint32_t value;
    Bytes encoded;
};

class UnsignedVarint : public ::testing::TestWithParam<VarintCase>
{
};

TEST_P(UnsignedVarint, EncodesAndDecodes)
{
    const VarintCase &c = GetParam();
    ByteWriter writer;
    ASSERT_TRUE(writer.WriteVarUint32(c.value));
    EXPECT_EQ(toBytes(writer), c.encoded);

    ByteReader reader(c.encoded.data(), c.encoded.size());
    uint32_t value = 1;
    ASSERT_TRUE(reader.ReadVarUint32(&value));
    EXPECT_EQ(value, c.value);
    EXPECT_TRUE(reader.empty());

    uint32_t raw = 1;
    EXPECT_EQ(DecodeVarUint32(c.encoded.data(), c.encoded.data() + c.encoded.size(), &raw),
              c.encoded.data() + c.encoded.size());
    EXPECT_EQ(raw, c.value);
}

INSTANTIATE_TEST_SUITE_P(Table, UnsignedVarint,
                         ::testing::Values(VarintCase{0, {0x00}}, VarintCase{127, {0x7F}},
                                           VarintCase{128, {0x80, 0x01}},
                                           VarintCase{300, {0xAC, 0x02}},
                                           VarintCase{20090218, {0xEA, 0x9A, 0xCA, 0x09}},
                                           VarintCase{0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F}}));

struct SignedCase
{
    int32_t value;
    Bytes encoded;
};

class ZigzagVarint : public ::testing::TestWithParam<SignedCase>
{
};

TEST_P(ZigzagVarint, EncodesAndDecodes)
{
    const SignedCase &c = GetParam();
    ByteWriter writer;
    ASSERT_TRUE(writer.WriteVarSint32(c.value));
    EXPECT_EQ(toBytes(writer), c.encoded);
    ByteReader reader(c.encoded.data(), c.encoded.size());
    int32_t value = 7;
    ASSERT_TRUE(reader.ReadVarSint32(&value));
    EXPECT_EQ(value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ZigzagVarint,
    ::testing::Values(SignedCase{0, {0x00}}, SignedCase{-1, {0x01}}, SignedCase{1, {0x02}},
                      SignedCase{-2, {0x03}}, SignedCase{2, {0x04}},
                      SignedCase{2147483647, {0xFE, 0xFF, 0xFF, 0xFF, 0x0F}},
                      SignedCase{-2147483647 - 1, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F}}));

TEST(Varint, RedundantContinuationAndDroppedHighBitsReadBack)
{
    const Bytes zero = {0x80, 0x00};
    ByteReader reader(zero.data(), zero.size());
    uint32_t value = 1;
    ASSERT_TRUE(reader.ReadVarUint32(&value));
    EXPECT_EQ(value, 0u);
    // Of the fifth byte only the low four bits land in the value.
    const Bytes high = {0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
    ByteReader highReader(high.data(), high.size());
    ASSERT_TRUE(highReader.ReadVarUint32(&value));
    EXPECT_EQ(value, 0xFFFFFFFFu);
}

TEST(Varint, MalformedInputFailsAndKeepsCursor)
{
    const std::vector<Bytes> bad = {
        {},
        {0x80},
        {0xFF, 0xFF},
        {0xFF, 0xFF, 0xFF, 0xFF},
        {0xFF, 0xFF, 0xFF, 0xFF, 0x8F},
        {0x80, 0x80, 0x80, 0x80, 0x80, 0x00},
    };
    for (const Bytes &bytes : bad) {
        ByteReader reader(bytes.data(), bytes.size());
        uint32_t value = 42;
        int32_t signedValue = 42;
        EXPECT_FALSE(reader.ReadVarUint32(&value));
        EXPECT_FALSE(reader.ReadVarSint32(&signedValue));
        EXPECT_EQ(reader.position(), 0u);
        EXPECT_EQ(value, 42u);
        EXPECT_EQ(DecodeVarUint32(bytes.data(), bytes.data() + bytes.size(), &value), nullptr);
    }
}

TEST(ByteReader, BoundsOfReadSkipAndSlices)
{
    const Bytes bytes = {1, 2, 3, 4, 5};
    ByteReader reader(bytes.data(), bytes.size());
    uint8_t two[2];
    ASSERT_TRUE(reader.Read(two, 2));
    EXPECT_EQ(two[1], 2);
    EXPECT_EQ(reader.remaining(), 3u);

    uint8_t four[4];
    EXPECT_FALSE(reader.Read(four, 4));
    EXPECT_FALSE(reader.Skip(4));
    EXPECT_EQ(reader.remaining(), 3u);

    ByteReader slice;
    ASSERT_TRUE(reader.ShareSlice(1, 2, &slice));
    EXPECT_EQ(toBytes(slice), (Bytes{4, 5}));
    EXPECT_EQ(reader.remaining(), 3u);
    EXPECT_TRUE(reader.ShareSlice(3, 0, &slice));
    EXPECT_TRUE(slice.empty());
    EXPECT_FALSE(reader.ShareSlice(4, 0, &slice));
    EXPECT_FALSE(reader.ShareSlice(1, 3, &slice));
    EXPECT_FALSE(reader.ShareSlice(SIZE_MAX, 2, &slice));
    EXPECT_FALSE(reader.ShareSlice(2, SIZE_MAX, &slice));

    EXPECT_FALSE(reader.TakeSlice(4, &slice));
    ASSERT_TRUE(reader.TakeSlice(2, &slice));
    EXPECT_EQ(toBytes(slice), (Bytes{3, 4}));
    EXPECT_EQ(reader.remaining(), 1u);

    ByteReader none;
    EXPECT_TRUE(none.empty());
    EXPECT_TRUE(none.Skip(0));
    EXPECT_FALSE(none.Skip(1));
}

TEST(ByteWriter, GrowsFrom256ByDoubling)
{
    ByteWriter writer;
    EXPECT_EQ(writer.data(), nullptr);
    ASSERT_TRUE(writer.WriteByte(1));
    EXPECT_EQ(writer.capacity(), 256u);
    const Bytes chunk(300, 7);
    ASSERT_TRUE(writer.Write(chunk.data(), chunk.size()));
    EXPECT_EQ(writer.capacity(), 512u);
    EXPECT_EQ(writer.length(), 301u);
    ASSERT_TRUE(writer.Reserve(1000));
    EXPECT_EQ(writer.capacity(), 1301u);
    EXPECT_TRUE(writer.Write(nullptr, 0));
    writer.Release();
    EXPECT_EQ(writer.data(), nullptr);
    EXPECT_EQ(writer.length(), 0u);
    EXPECT_EQ(writer.capacity(), 0u);
}

TEST(ByteWriter, FailedWriterKeepsFailingUntilReleased)
{
    ByteWriter writer;
    ASSERT_TRUE(writer.WriteByte(1));
    // Exactly the failure marker can never become a buffer size.
    EXPECT_FALSE(writer.Reserve(ByteWriter::kFailedCapacity - 1));
    EXPECT_TRUE(writer.failed());
    EXPECT_EQ(writer.length(), 0u);
    EXPECT_EQ(writer.data(), nullptr);
    EXPECT_FALSE(writer.WriteByte(2));
    EXPECT_FALSE(writer.Reserve(1));
    ByteWriter other;
    ASSERT_TRUE(other.WriteByte(3));
    EXPECT_FALSE(writer.AppendAndRelease(&other));
    EXPECT_EQ(other.length(), 1u); // kept on failure
    writer.Release();
    EXPECT_FALSE(writer.failed());
    EXPECT_TRUE(writer.WriteByte(4));
    EXPECT_TRUE(writer.AppendAndRelease(&other));
    EXPECT_EQ(toBytes(writer), (Bytes{4, 3}));
    EXPECT_EQ(other.data(), nullptr);
}

TEST(ByteWriter, AppendingOwnBytesSurvivesGrowth)
{
    ByteWriter writer;
    const Bytes start = pseudoRandomBytes(256, 4);
    ASSERT_TRUE(writer.Write(start.data(), start.size()));
    ASSERT_EQ(writer.capacity(), 256u);
    ASSERT_TRUE(writer.Write(writer.data(), 256)); // forces a new buffer
    Bytes doubled = start;
    doubled.insert(doubled.end(), start.begin(), start.end());
    EXPECT_EQ(toBytes(writer), doubled);
    EXPECT_FALSE(writer.AppendAndRelease(&writer));
    EXPECT_EQ(writer.length(), 512u);
}

TEST(ByteWriter, LengthOverflowFailsWithoutTouchingBuffer)
{
    ByteWriter writer;
    ASSERT_TRUE(writer.WriteByte(9));
    EXPECT_FALSE(writer.Write(writer.data(), SIZE_MAX));
    EXPECT_FALSE(writer.Reserve(UINT64_MAX));
    EXPECT_FALSE(writer.failed());
    EXPECT_EQ(toBytes(writer), (Bytes{9}));
}

TEST(ByteWriterDeathTest, SizeOfFourGibibytesEndsProcess)
{
    ByteWriter writer;
    EXPECT_TRUE(writer.WriteVarSize(0xFFFFFFFFull));
    EXPECT_EXIT(writer.WriteVarSize(0x100000000ull), ::testing::ExitedWithCode(1), "");
}

const Bytes kEmptyGroupImage = {0xEA, 0x9A, 0xCA, 0x09, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

TEST(StreamGroup, EmptyGroupImageIsFifteenBytes)
{
    WriterGroup group;
    ByteWriter image;
    ASSERT_TRUE(group.WriteImage(&image));
    EXPECT_EQ(toBytes(image), kEmptyGroupImage);

    ReaderGroup parsed;
    ASSERT_TRUE(parsed.Parse(image.data(), image.length()));
    EXPECT_EQ(parsed.count(), 10u);
    EXPECT_TRUE(parsed.IsExhausted());
}

TEST(StreamGroup, ImageRoundTripsStreamsInOrder)
{
    WriterGroup group;
    ASSERT_TRUE(group.stream(0)->Write("abc", 3));
    ASSERT_TRUE(group.stream(3)->Write("de", 2));
    ASSERT_TRUE(group.stream(9)->WriteByte('f'));
    ByteWriter image;
    ASSERT_TRUE(group.WriteImage(&image));
    EXPECT_EQ(toBytes(image), (Bytes{0xEA, 0x9A, 0xCA, 0x09, 0x0A, 3,   0,   0,   2,   0,  0,
                                     0,    0,    0,    1,    'a',  'b', 'c', 'd', 'e', 'f'}));
    EXPECT_EQ(group.stream(0)->data(), nullptr); // released once copied
    EXPECT_EQ(image.capacity(), 256u);           // reserved once, never grown

    ReaderGroup parsed;
    ASSERT_TRUE(parsed.Parse(image.data(), image.length()));
    EXPECT_EQ(toBytes(*parsed.stream(0)), toBytes(std::string("abc")));
    EXPECT_EQ(toBytes(*parsed.stream(3)), toBytes(std::string("de")));
    EXPECT_EQ(toBytes(*parsed.stream(9)), toBytes(std::string("f")));
    EXPECT_FALSE(parsed.IsExhausted());
    parsed.stream(0)->Skip(3);
    parsed.stream(3)->Skip(2);
    EXPECT_FALSE(parsed.IsExhausted());
    parsed.stream(9)->Skip(1);
    EXPECT_TRUE(parsed.IsExhausted());
}

TEST(StreamGroup, ParseRejectsMalformedImages)
{
    struct Case
    {
        const char *what;
        Bytes image;
        bool ok;
    };
    Bytes trailing = kEmptyGroupImage;
    trailing.push_back(0);
    Bytes badMagic = kEmptyGroupImage;
    badMagic[0] = 0xEB;
    const std::vector<Case> cases = {
        {"count zero, nothing else", {0xEA, 0x9A, 0xCA, 0x09, 0x00}, true},
        {"one trailing byte", trailing, false},
        {"wrong magic", badMagic, false},
        {"eleven streams", {0xEA, 0x9A, 0xCA, 0x09, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false},
        {"body missing", {0xEA, 0x9A, 0xCA, 0x09, 0x01, 0x02, 'x'}, false},
        {"lengths truncated", {0xEA, 0x9A, 0xCA, 0x09, 0x02, 0x00}, false},
        {"huge lengths",
         {0xEA, 0x9A, 0xCA, 0x09, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F,
          'x'},
         false},
        {"empty", {}, false},
    };
    for (const Case &c : cases) {
        ReaderGroup group;
        EXPECT_EQ(group.Parse(c.image.data(), c.image.size()), c.ok) << c.what;
        if (c.ok)
            EXPECT_EQ(group.count(), 0u) << c.what;
        else
            EXPECT_EQ(group.count(), 10u) << c.what;
    }
}

TEST(StreamGroup, NestedGroupsTravelInsideOuterStreams)
{
    WriterGroup inner;
    ASSERT_TRUE(inner.stream(2)->Write("xyz", 3));
    WriterGroup second;
    ASSERT_TRUE(second.stream(0)->Write("q", 1));
    WriterGroup outer;
    ASSERT_TRUE(outer.WriteGroup(&inner));
    // Only stream 2 is used: count 3 and three lengths go into stream 0.
    EXPECT_EQ(toBytes(*outer.stream(0)), (Bytes{3, 0, 0, 3}));
    EXPECT_EQ(toBytes(*outer.stream(2)), toBytes(std::string("xyz")));
    EXPECT_EQ(inner.stream(2)->length(), 0u);
    ASSERT_TRUE(outer.WriteGroup(&second));
    EXPECT_EQ(toBytes(*outer.stream(0)), (Bytes{3, 0, 0, 3, 1, 1, 'q'}));

    ByteWriter image;
    ASSERT_TRUE(outer.WriteImage(&image));
    ReaderGroup parsed;
    ASSERT_TRUE(parsed.Parse(image.data(), image.length()));
    ReaderGroup first, next;
    ASSERT_TRUE(parsed.ReadGroup(&first));
    EXPECT_EQ(first.count(), 10u);
    EXPECT_TRUE(first.stream(0)->empty());
    EXPECT_EQ(toBytes(*first.stream(2)), toBytes(std::string("xyz")));
    ASSERT_TRUE(parsed.ReadGroup(&next));
    EXPECT_EQ(toBytes(*next.stream(0)), toBytes(std::string("q")));
    EXPECT_TRUE(next.stream(2)->empty());
    EXPECT_TRUE(parsed.IsExhausted());
    ReaderGroup none;
    EXPECT_FALSE(parsed.ReadGroup(&none));
}

TEST(StreamGroup, ReadGroupRejectsBadNestedHeadersWithoutMoving)
{
    const std::vector<Bytes> headers = {
        {11},      // more than ten streams
        {2, 5, 0}, // stream 0 body too short
        {2, 0, 1}, // stream 1 is empty
        {3, 0, 0}, // lengths truncated
        {0x80},    // count truncated
    };
    for (const Bytes &header : headers) {
        WriterGroup outer;
        ASSERT_TRUE(outer.stream(0)->Write(header.data(), header.size()));
        ByteWriter image;
        ASSERT_TRUE(outer.WriteImage(&image));
        ReaderGroup parsed, out;
        ASSERT_TRUE(parsed.Parse(image.data(), image.length()));
        EXPECT_FALSE(parsed.ReadGroup(&out));
        EXPECT_EQ(parsed.stream(0)->remaining(), header.size());
    }
    // A nested count above the outer group's own count fails too.
    const Bytes outerImage = {0xEA, 0x9A, 0xCA, 0x09, 0x01, 0x03, 2, 0, 0};
    ReaderGroup small, out;
    ASSERT_TRUE(small.Parse(outerImage.data(), outerImage.size()));
    EXPECT_FALSE(small.ReadGroup(&out));
}

// Every truncation and every single-bit flip of a valid image with nested
// groups either fails or yields streams that stay inside the image.
TEST(StreamGroup, DamagedImagesStayInBounds)
{
    WriterGroup outer;
    for (int element = 0; element < 2; ++element) {
        WriterGroup inner;
        for (size_t i = 0; i < 4; ++i)
            ASSERT_TRUE(inner.stream(i)->Write("stream-bytes", 3 + i + element));
        ASSERT_TRUE(outer.WriteGroup(&inner));
    }
    ByteWriter image;
    ASSERT_TRUE(outer.WriteImage(&image));
    const Bytes valid = toBytes(image);

    const auto check = [](const Bytes &bytes) {
        ReaderGroup group;
        if (!group.Parse(bytes.data(), bytes.size()))
            return;
        ReaderGroup nested;
        while (group.ReadGroup(&nested)) {
            for (size_t i = 0; i < 10; ++i) {
                const ByteReader *s = nested.stream(i);
                if (s->length() == 0)
                    continue;
                EXPECT_GE(s->start(), bytes.data());
                EXPECT_LE(s->end(), bytes.data() + bytes.size());
            }
        }
    };
    for (size_t n = 0; n < valid.size(); ++n) {
        ReaderGroup group;
        EXPECT_FALSE(group.Parse(valid.data(), n)) << n;
    }
    for (size_t i = 0; i < valid.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes flipped = valid;
            flipped[i] ^= static_cast<uint8_t>(1u << bit);
            check(flipped);
        }
    }
}

TEST(Checksum32, IsCrcRegisterWithoutFinalInversion)
{
    EXPECT_EQ(Checksum32("abc", 3), 0xCADBBE3Du);
    EXPECT_EQ(Checksum32(nullptr, 0), 0xFFFFFFFFu);
    EXPECT_EQ(Checksum32("123456789", 9), ~0xCBF43926u);
}

class FileTest : public ::testing::Test
{
protected:
    std::string path(const std::string &name)
    {
        return ::testing::TempDir() + "ovpatch_streams_" + std::to_string(getpid()) + "_" + name;
    }
};

TEST_F(FileTest, WriteWholeFileThenMap)
{
    const std::string file = path("data");
    const Bytes bytes = pseudoRandomBytes(5000, 3);
    ASSERT_EQ(WriteWholeFile(file, bytes.data(), bytes.size()), bytes.size());
    {
        MappedFile mapped(file);
        ASSERT_TRUE(mapped.IsMapped());
        EXPECT_EQ(mapped.length(), bytes.size());
        EXPECT_EQ(Bytes(mapped.data(), mapped.data() + mapped.length()), bytes);
        EXPECT_EQ(mapped[4999], bytes[4999]);
        EXPECT_THROW(mapped[5000], std::out_of_range);
        mapped.Close();
        EXPECT_FALSE(mapped.IsMapped());
        EXPECT_THROW(mapped[0], std::invalid_argument);
    }
    EXPECT_EQ(WriteWholeFile(file, nullptr, 0), 0u); // truncates
    MappedFile empty(file);
    EXPECT_FALSE(empty.IsMapped());
    std::remove(file.c_str());

    MappedFile missing(path("missing"));
    EXPECT_FALSE(missing.IsMapped());
    EXPECT_EQ(WriteWholeFile(path("no/such/dir"), "x", 1), 0u);
}

} // namespace
