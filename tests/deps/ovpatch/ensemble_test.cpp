#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "bytes.h"
#include "ensemble.h"
#include "streams.h"

using namespace ovpatch;

namespace {

// The old file of the crafted patches: text, which no disassembler accepts.
const Bytes kOld = toBytes(std::string("the old file's bytes, not an executable\n"));
const Bytes kNew = toBytes(std::string("the new file's bytes\n"));

Bytes varint(uint32_t value)
{
    ByteWriter writer;
    writer.WriteVarUint32(value);
    return toBytes(writer);
}

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A binary diff without header (method 0) that copies an old image of n bytes.
Bytes copyDiff(size_t n)
{
    ByteWriter control;
    if (n)
        control.WriteVarSint32(static_cast<int32_t>(n)), control.WriteVarSint32(0), control.WriteVarSint32(0);
    return Bytes{0} + varint(n) + varint(control.length()) + varint(n) + varint(0) + toBytes(control) + Bytes(n, 0);
}

// A binary diff without header that ignores the old image and writes bytes.
Bytes literalDiff(const Bytes &bytes)
{
    ByteWriter control;
    control.WriteVarSint32(0), control.WriteVarSint32(static_cast<int32_t>(bytes.size())), control.WriteVarSint32(0);
    return Bytes{0} + varint(bytes.size()) + varint(control.length()) + varint(0) + varint(bytes.size())
        + toBytes(control) + bytes;
}

// The image the apply predicts: one empty nested group per element.
size_t predictionImageLength(size_t elements)
{
    WriterGroup group;
    for (size_t i = 0; i < elements; ++i) {
        WriterGroup empty;
        group.WriteGroup(&empty);
    }
    ByteWriter image;
    group.WriteImage(&image);
    return image.length();
}

Bytes groupImage(const std::vector<Bytes> &streams)
{
    ByteWriter image;
    image.WriteVarUint32(GROUP_MAGIC);
    image.WriteVarSize(streams.size());
    for (const Bytes &s : streams)
        image.WriteVarSize(s.size());
    for (const Bytes &s : streams)
        image.Write(s.data(), s.size());
    return toBytes(image);
}

Bytes header(uint32_t source, uint32_t target, uint32_t finalSize = 0)
{
    return varint(ENSEMBLE_MAGIC) + varint(ENSEMBLE_VERSION) + varint(source) + varint(target) + varint(finalSize);
}

Bytes compressed(const Bytes &body)
{
    ByteWriter block;
    block.WriteLzma2(body.data(), body.size());
    return toBytes(block);
}

uint32_t checksum(const Bytes &bytes)
{
    return Checksum32(bytes.data(), bytes.size());
}

// A valid patch from kOld to kNew whose element list is the given bytes; the
// correction and transformed-element diffs copy their images unchanged, as
// for elements that take no parameters.
Bytes patchWithElements(const Bytes &elementList, size_t elements, const Bytes &finalDiff = literalDiff(kNew))
{
    const Bytes empty10 = groupImage(std::vector<Bytes>(10));
    const Bytes body = groupImage({elementList, copyDiff(predictionImageLength(elements)),
                                   copyDiff(empty10.size()), finalDiff, {}, {}, {}, {}, {}, {}});
    return header(checksum(kOld), checksum(kNew), kOld.size()) + compressed(body);
}

const Bytes kZeroElements = patchWithElements(varint(0), 0);

struct StatusCase
{
    const char *name;
    std::function<Bytes()> patch;
    PatchStatus expected;
    Bytes old = kOld;
};

class ScratchDir
{
public:
    ScratchDir()
    {
        char pattern[] = "/tmp/ensemble_test_XXXXXX";
        m_Path = mkdtemp(pattern);
    }
    ~ScratchDir() { std::system(("rm -rf '" + m_Path + "'").c_str()); }
    std::string path(const std::string &name) const { return m_Path + "/" + name; }

private:
    std::string m_Path;
};

void writeFile(const std::string &path, const Bytes &bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
}

Bytes readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class EnsembleStatus : public ::testing::TestWithParam<StatusCase>
{
};

TEST_P(EnsembleStatus, ReturnsStatusAndLeavesNewFileAlone)
{
    const StatusCase &c = GetParam();
    ScratchDir dir;
    writeFile(dir.path("old"), c.old);
    writeFile(dir.path("patch"), c.patch());
    const Bytes previous = toBytes(std::string("an older new file"));
    writeFile(dir.path("new"), previous);

    EXPECT_EQ(ApplyEnsemble(dir.path("old"), dir.path("patch"), dir.path("new")), c.expected);
    if (c.expected == PS_OK)
        EXPECT_EQ(readFile(dir.path("new")), kNew);
    else
        EXPECT_EQ(readFile(dir.path("new")), previous);
}

Bytes withElements(std::initializer_list<uint32_t> values, size_t elements)
{
    Bytes list;
    for (uint32_t v : values)
        list = list + varint(v);
    return patchWithElements(list, elements);
}

const StatusCase kStatusCases[] = {
    {"ZeroElementsIsOneDiffOfTheWholeFile", [] { return kZeroElements; }, PS_OK},
    {"EmptyPatchFile", [] { return Bytes(); }, PS_PATCH_OPEN_FAILED},
    {"TextInsteadOfMagic", [] { return Bytes{0x43, 0x6F, 0x75}; }, PS_BAD_MAGIC},
    {"EndsInsideMagic", [] { return Bytes{0xC3, 0xDE}; }, PS_BAD_MAGIC},
    {"WrongVersion", [] { return varint(ENSEMBLE_MAGIC) + varint(20110215) + Bytes(3, 0); }, PS_BAD_VERSION},
    {"EndsAfterVersion", [] { return varint(ENSEMBLE_MAGIC) + varint(ENSEMBLE_VERSION); }, PS_BAD_HEADER},
    {"EndsInsideTargetChecksum",
     [] { return varint(ENSEMBLE_MAGIC) + varint(ENSEMBLE_VERSION) + varint(1) + Bytes{0x80}; }, PS_BAD_HEADER},
    {"EmptyOldFile", [] { return kZeroElements; }, PS_FILE_IO_FAILED, Bytes()},
    // The body is garbage: the checksum is checked before it is decoded.
    {"OldFileChanged", [] { return header(checksum(kOld) ^ 1, 0) + Bytes(16, 0xAB); }, PS_CHECKSUM_MISMATCH},
    {"BodyNotLzma2", [] { return header(checksum(kOld), 0) + Bytes(16, 0xAB); }, PS_STREAM_ERROR},
    {"BodyNotAGroup", [] { return header(checksum(kOld), 0) + compressed(Bytes(12, 1)); }, PS_BAD_HEADER},
    {"BodyWithThreeStreams",
     [] {
         return header(checksum(kOld), checksum(kNew))
             + compressed(groupImage({varint(0), copyDiff(predictionImageLength(0)), copyDiff(0)}));
     },
     PS_BAD_HEADER},
    {"TruncatedElementCount", [] { return patchWithElements(Bytes{0x80}, 0); }, PS_BAD_HEADER},
    {"ElementKindZero", [] { return withElements({1, 0, 0, 4}, 1); }, PS_BAD_HEADER},
    {"ElementKindEight", [] { return withElements({1, 8, 0, 4}, 1); }, PS_BAD_HEADER},
    {"ElementKindMissing", [] { return withElements({2, 5}, 2); }, PS_BAD_HEADER},
    {"ElementParametersMissing", [] { return withElements({1, 5, 0}, 1); }, PS_BAD_TRANSFORM_PARAMS},
    {"ElementPastTheOldFile",
     [] { return withElements({1, 5, 4, static_cast<uint32_t>(kOld.size() - 3)}, 1); }, PS_BAD_TRANSFORM_PARAMS},
    {"ElementOffsetPastTheOldFile",
     [] { return withElements({1, 5, static_cast<uint32_t>(kOld.size() + 1), 0}, 1); }, PS_BAD_TRANSFORM_PARAMS},
    {"ElementListWithBytesLeftOver", [] { return withElements({1, 5, 0, 4, 9}, 1); }, PS_BAD_HEADER},
    {"ElementNotAnExecutable", [] { return withElements({1, 5, 0, static_cast<uint32_t>(kOld.size())}, 1); },
     PS_NOT_EXECUTABLE},
    {"CorrectionDiffCorrupt",
     [] {
         return header(checksum(kOld), checksum(kNew))
             + compressed(groupImage({varint(0), Bytes{7}, copyDiff(0), literalDiff(kNew)}));
     },
     PS_FAILED},
    {"CorrectionNotAGroup",
     [] {
         return header(checksum(kOld), checksum(kNew))
             + compressed(groupImage({varint(0), literalDiff(Bytes{1, 2, 3}), copyDiff(0), literalDiff(kNew)}));
     },
     PS_STREAM_ERROR},
    // An element takes no parameters, so a correction that adds one is
    // refused by the patcher.
    {"CorrectionAddsParameters",
     [] {
         Bytes image = groupImage({Bytes{1, 1, 7}, {}, {}, {}, {}, {}, {}, {}, {}, {}});
         const Bytes list = varint(1) + varint(5) + varint(0) + varint(kOld.size());
         return header(checksum(kOld), checksum(kNew))
             + compressed(groupImage({list, literalDiff(image), copyDiff(0), literalDiff(kNew)}));
     },
     PS_FAILED},
    {"CorrectionLeavesBytes",
     [] {
         Bytes image = groupImage({Bytes{0, 0}, {}, {}, {}, {}, {}, {}, {}, {}, {}});
         return header(checksum(kOld), checksum(kNew))
             + compressed(groupImage({varint(0), literalDiff(image), copyDiff(0), literalDiff(kNew)}));
     },
     PS_STREAM_NOT_CONSUMED},
    {"TransformedNotAGroup",
     [] {
         return header(checksum(kOld), checksum(kNew))
             + compressed(groupImage({varint(0), copyDiff(predictionImageLength(0)), literalDiff(Bytes{9}),
                                      literalDiff(kNew)}));
     },
     PS_STREAM_ERROR},
    {"FinalDiffCorrupt", [] { return patchWithElements(varint(0), 0, Bytes{3}); }, PS_FAILED},
    {"ResultDiffersFromTarget",
     [] { return patchWithElements(varint(0), 0, literalDiff(toBytes(std::string("other")))); },
     PS_CHECKSUM_MISMATCH},
};

INSTANTIATE_TEST_SUITE_P(Crafted, EnsembleStatus, ::testing::ValuesIn(kStatusCases),
                         [](const ::testing::TestParamInfo<StatusCase> &info) { return info.param.name; });

TEST(EnsembleApply, MissingFilesAreOpenFailures)
{
    ScratchDir dir;
    writeFile(dir.path("old"), kOld);
    writeFile(dir.path("patch"), kZeroElements);
    EXPECT_EQ(ApplyEnsemble(dir.path("old"), dir.path("missing"), dir.path("new")), PS_PATCH_OPEN_FAILED);
    EXPECT_EQ(ApplyEnsemble(dir.path("missing"), dir.path("patch"), dir.path("new")), PS_FILE_IO_FAILED);
    EXPECT_EQ(ApplyEnsemble(dir.path("old"), dir.path("patch"), dir.path("no/such/dir/new")), PS_FILE_IO_FAILED);
}

// Cutting a valid patch anywhere must give a status, never a read past the
// mapped bytes (the sanitizer run watches for that).
TEST(EnsembleApply, EveryTruncationFails)
{
    ByteWriter result;
    for (size_t n = 0; n < kZeroElements.size(); ++n) {
        EXPECT_NE(ApplyEnsembleToMemory(kOld.data(), kOld.size(), kZeroElements.data(), n, &result), PS_OK) << n;
        result.Release();
    }
}

} // namespace
