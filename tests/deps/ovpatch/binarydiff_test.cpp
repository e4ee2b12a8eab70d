#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>

#include <gtest/gtest.h>

#include "binarydiff.h"
#include "bytes.h"
#include "logcapture.h"
#include "streams.h"
#include "suffixarray.h"

using namespace ovpatch;

namespace {

Bytes lzma2(const Bytes &data)
{
    ByteWriter writer;
    EXPECT_TRUE(writer.WriteLzma2(data.data(), data.size()));
    return toBytes(writer);
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes varint(uint32_t value)
{
    ByteWriter writer;
    writer.WriteVarUint32(value);
    return toBytes(writer);
}

// A diff body stored in each of the three methods.
Bytes encodeDiff(uint8_t method, uint32_t newSize, const Bytes &control, const Bytes &diff,
                 const Bytes &extra)
{
    const Bytes lengths =
        concat({varint(control.size()), varint(diff.size()), varint(extra.size())});
    switch (method) {
    case 0:
        return concat({{0}, varint(newSize), lengths, control, diff, extra});
    case 1:
        return concat({{1}, varint(newSize), lzma2(control), lzma2(diff), lzma2(extra)});
    default:
        return concat({{method}, varint(newSize), lzma2(concat({lengths, control, diff, extra}))});
    }
}

struct Applied
{
    bool ok;
    Bytes image;
    size_t consumed;
};

Applied apply(const Bytes &old, const Bytes &patch, bool withHeader)
{
    ByteReader oldReader(old.data(), old.size());
    ByteReader patchReader(patch.data(), patch.size());
    ByteWriter out;
    const bool ok = ApplyBinaryDiff(oldReader, &patchReader, &out, withHeader);
    return {ok, toBytes(out), patchReader.position()};
}

Bytes create(const Bytes &old, const Bytes &next, bool withHeader, uint8_t method)
{
    ByteReader oldReader(old.data(), old.size());
    ByteReader newReader(next.data(), next.size());
    ByteWriter out;
    EXPECT_TRUE(CreateBinaryDiff(&oldReader, &newReader, &out, withHeader, method));
    EXPECT_TRUE(oldReader.empty());
    EXPECT_TRUE(newReader.empty());
    return toBytes(out);
}

const Bytes kOld = {0xFF, 0x00, 0x10};
// x = 3, y = 0, z = 0: zigzag 06 00 00.
const Bytes kControl = {0x06, 0x00, 0x00};
const Bytes kDiffBytes = {0x01, 0x02, 0x03};
const Bytes kExpected = {0x00, 0x02, 0x13};

class DiffMethods : public ::testing::TestWithParam<uint8_t>
{
};

TEST_P(DiffMethods, AddsDiffBytesToOldBytes)
{
    const Bytes patch = encodeDiff(GetParam(), 3, kControl, kDiffBytes, {});
    if (GetParam() == 0) {
        EXPECT_EQ(patch, (Bytes{0x00, 0x03, 0x03, 0x03, 0x00, 0x06, 0x00, 0x00, 0x01, 0x02, 0x03}));
    }
    Bytes trailing = patch;
    trailing.push_back(0x5A);
    const Applied result = apply(kOld, trailing, false);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.image, kExpected);
    EXPECT_EQ(result.consumed, patch.size());

    // With header: magic, then the checksum of the new image.
    const Bytes header = concat(
        {toBytes(std::string("OVDIFF10")), varint(Checksum32(kExpected.data(), kExpected.size()))});
    const Applied checked = apply(kOld, concat({header, patch}), true);
    ASSERT_TRUE(checked.ok);
    EXPECT_EQ(checked.image, kExpected);

    Bytes flipped = concat({header, patch});
    flipped[8] ^= 0x01;
    LogCapture log;
    EXPECT_FALSE(apply(kOld, flipped, true).ok);
    EXPECT_TRUE(log.contains("crc mismatch"));
}

TEST_P(DiffMethods, EmptyNewImage)
{
    const Applied result = apply(kOld, encodeDiff(GetParam(), 0, {}, {}, {}), false);
    EXPECT_TRUE(result.ok);
    EXPECT_TRUE(result.image.empty());
}

INSTANTIATE_TEST_SUITE_P(AllMethods, DiffMethods, ::testing::Values(0, 1, 2));

TEST(ApplyBinaryDiff, RejectsCorruptDiffs)
{
    struct Case
    {
        const char *what;
        Bytes patch;
        bool withHeader;
        const char *message; // logged text, or empty when it fails silently
    };
    const Bytes extraTwo = {0xAA, 0xBB};
    const std::vector<Case> cases = {
        {"method 3", {0x03, 0x00}, false, "Invalid compression method"},
        {"wrong magic", concat({toBytes(std::string("OVDIFF11")), {0, 0, 0, 0, 0, 0}}), true,
         "Corrupt patch header"},
        {"crc missing", toBytes(std::string("OVDIFF10")), true, "Could not read crc"},
        {"no method", {}, false, ""},
        {"size truncated", {0x00, 0x80}, false, ""},
        {"lengths beyond data", {0x00, 0x03, 0x03, 0x03, 0x00, 0x06, 0x00, 0x00, 0x01}, false, ""},
        {"huge lengths",
         concat(
             {{0x00, 0x03}, varint(0xFFFFFFFF), varint(0xFFFFFFFF), varint(0xFFFFFFFF), kControl}),
         false, ""},
        {"x beyond old image", encodeDiff(0, 4, {0x08, 0x00, 0x00}, Bytes(4, 0), {}), false, ""},
        {"old position below zero",
         encodeDiff(0, 2, {0x02, 0x00, 0x09, 0x02, 0x00, 0x00}, Bytes(2, 0), {}), false, ""},
        {"negative x", encodeDiff(0, 1, {0x01, 0x02, 0x00}, {0x00}, {0x00}), false, ""},
        {"y beyond extra", encodeDiff(0, 3, {0x00, 0x06, 0x00}, {0x00}, extraTwo), false, ""},
        {"y past new size", encodeDiff(0, 1, {0x00, 0x04, 0x00}, {}, extraTwo), false,
         "Corrupt patch"},
        {"x past new size", encodeDiff(0, 2, {0x06, 0x00, 0x00}, kDiffBytes, {}), false,
         "Corrupt patch"},
        {"control ends", encodeDiff(0, 3, {0x02, 0x00, 0x00}, kDiffBytes, {}), false,
         "Corrupt patch reading control"},
        {"size beyond diff and extra", encodeDiff(0, 0xFFFFFFF0, kControl, kDiffBytes, {}), false,
         "Corrupt patch"},
        {"lzma2 body truncated",
         [] {
             Bytes p = encodeDiff(2, 3, kControl, kDiffBytes, {});
             p.resize(p.size() - 2);
             return p;
         }(),
         false, "Error uncompressing data "},
    };
    for (const Case &c : cases) {
        LogCapture log;
        EXPECT_FALSE(apply(kOld, c.patch, c.withHeader).ok) << c.what;
        if (*c.message) {
            EXPECT_TRUE(log.containsPrefix(c.message)) << c.what;
        }
    }
}

// Inputs shaped like real changes: shifted blocks, edited bytes, inserted
// and deleted runs.
Bytes mutate(const Bytes &old, uint32_t seed)
{
    Bytes next = old;
    const Bytes noise = pseudoRandomBytes(4096, seed);
    size_t k = 0;
    for (size_t i = 0; i + 64 < next.size(); i += 1000 + noise[k++ % noise.size()] * 7)
        next[i] ^= noise[k++ % noise.size()] | 1;
    if (next.size() > 200) {
        next.insert(next.begin() + next.size() / 3, noise.begin(), noise.begin() + 300);
        next.erase(next.begin() + next.size() / 2, next.begin() + next.size() / 2 + 150);
    }
    return next;
}

Bytes readFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

TEST(CreateBinaryDiff, RoundTripsGeneratedAndRealInputs)
{
    const Bytes random = pseudoRandomBytes(50000, 11);
    Bytes text;
    for (int i = 0; i < 3000; ++i) {
        const std::string line =
            "entry " + std::to_string(i % 97) + " value " + std::to_string(i * 31 % 1000) + "\n";
        text.insert(text.end(), line.begin(), line.end());
    }
    // Real machine code: the start of this test program (kept small so the
    // sanitizer build stays quick).
    Bytes self = readFile("/proc/self/exe");
    ASSERT_GT(self.size(), 10000u);
    self.resize(std::min<size_t>(self.size(), 300000));
    struct Pair
    {
        const char *what;
        Bytes old;
        Bytes next;
    };
    const std::vector<Pair> pairs = {
        {"both empty", {}, {}},
        {"empty old", {}, random},
        {"empty new", random, {}},
        {"identical", random, random},
        {"unrelated", random, pseudoRandomBytes(30000, 12)},
        {"edited random", random, mutate(random, 13)},
        {"edited text", text, mutate(text, 14)},
        {"zeros", Bytes(40000, 0), Bytes(50000, 0)},
        {"zeros to pattern", Bytes(20000, 0), mutate(Bytes(20000, 0), 15)},
        {"single bytes", {7}, {8}},
        {"own executable, edited", self, mutate(self, 16)},
    };
    for (const Pair &pair : pairs) {
        for (uint8_t method : {0, 1, 2}) {
            for (bool withHeader : {false, true}) {
                const Bytes patch = create(pair.old, pair.next, withHeader, method);
                const Applied result = apply(pair.old, patch, withHeader);
                ASSERT_TRUE(result.ok) << pair.what << " method " << int(method);
                EXPECT_EQ(result.image, pair.next) << pair.what << " method " << int(method);
                EXPECT_EQ(result.consumed, patch.size());
            }
        }
    }
    // Similar inputs must give a diff far smaller than the new image.
    const Bytes edited = mutate(self, 17);
    EXPECT_LT(create(self, edited, false, 2).size(), edited.size() / 10);
}

TEST(CreateBinaryDiff, TruncatedOrFlippedDiffsNeverCrash)
{
    const Bytes old = pseudoRandomBytes(3000, 21);
    const Bytes next = mutate(old, 22);
    for (uint8_t method : {0, 1, 2}) {
        const Bytes patch = create(old, next, true, method);
        for (size_t n = 0; n < patch.size(); ++n) {
            const Bytes cut(patch.begin(), patch.begin() + n);
            EXPECT_FALSE(apply(old, cut, true).ok) << "method " << int(method) << " cut " << n;
        }
        for (size_t i = 0; i < patch.size(); ++i) {
            Bytes flipped = patch;
            flipped[i] ^= static_cast<uint8_t>(1u << (i % 8));
            const Applied result = apply(old, flipped, true);
            if (result.ok) {
                EXPECT_EQ(result.image, next) << "method " << int(method) << " flip " << i;
            }
        }
    }
}

TEST(CreateBinaryDiff, RejectsUnknownMethod)
{
    LogCapture log;
    ByteReader empty;
    ByteReader other;
    ByteWriter out;
    EXPECT_FALSE(CreateBinaryDiff(&empty, &other, &out, false, 3));
    EXPECT_TRUE(log.contains("Invalid compression method"));
}

// Induced sorting against a plain comparison sort, on texts that exercise
// the recursion (few distinct characters, long repeats).
TEST(SuffixArray, MatchesComparisonSort)
{
    std::vector<Bytes> texts = {{},
                                {5},
                                {1, 1},
                                {2, 1},
                                toBytes(std::string("mississippi")),
                                toBytes(std::string("abababababababab")),
                                toBytes(std::string("aaaaaaaaaaaaaaaaaaaaa")),
                                toBytes(std::string("banana$banana"))};
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        Bytes text = pseudoRandomBytes(200 + seed * 37, seed);
        for (auto &b : text)
            b = static_cast<uint8_t>(b % (1 + seed % 4));
        texts.push_back(text);
    }
    texts.push_back(pseudoRandomBytes(5000, 99));
    for (const Bytes &text : texts) {
        const int32_t n = static_cast<int32_t>(text.size());
        std::vector<int32_t> expected(text.size());
        std::iota(expected.begin(), expected.end(), 0);
        std::sort(expected.begin(), expected.end(), [&](int32_t a, int32_t b) {
            return std::lexicographical_compare(text.begin() + a, text.end(), text.begin() + b,
                                                text.end());
        });
        std::vector<int32_t> sa(text.size() + 1, -7);
        ASSERT_TRUE(BuildSuffixArray(text.data(), n, sa.data()));
        sa.pop_back();
        EXPECT_EQ(sa, expected) << "length " << n;
    }
}

} // namespace
