#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "disassembled_program.h"
#include "disassembler.h"
#include "disassembler_win32.h"
#include "exe_test_helpers.h"

using namespace ovpatch;
using exetest::Bytes;
using exetest::put16;
using exetest::put32;
using exetest::put64;

namespace {

struct PeSection
{
    std::string name;
    uint32_t rva;
    Bytes raw;
};

// A minimal but complete PE image: DOS header, PE header at 0x80, an optional
// header with all sixteen data directories, sections laid out at 0x200-byte
// file alignment from 0x400. relocSection names the section whose bytes are
// the base relocation directory.
struct PeLayout
{
    bool plus = false;
    uint64_t imageBase = 0x400000;
    std::vector<PeSection> sections;
    int relocSection = -1;
};

constexpr uint32_t kPe = 0x80;
constexpr uint32_t kOpt = kPe + 24;

Bytes buildPe(const PeLayout &layout)
{
    Bytes b(0x400, 0);
    b[0] = 'M';
    b[1] = 'Z';
    put32(&b, 60, kPe);
    b[kPe] = 'P';
    b[kPe + 1] = 'E';
    put16(&b, kPe + 4, layout.plus ? 0x8664 : 0x14C);
    put16(&b, kPe + 6, static_cast<uint32_t>(layout.sections.size()));
    const uint32_t optSize = layout.plus ? 240 : 224;
    put16(&b, kPe + 20, optSize);
    put16(&b, kPe + 22, 0x102);
    put16(&b, kOpt, layout.plus ? 0x20B : 0x10B);
    if (layout.plus)
        put64(&b, kOpt + 24, layout.imageBase);
    else
        put32(&b, kOpt + 28, static_cast<uint32_t>(layout.imageBase));
    put32(&b, kOpt + 32, 0x1000);
    put32(&b, kOpt + 36, 0x200);
    put32(&b, kOpt + 60, 0x400);
    put32(&b, kOpt + (layout.plus ? 108 : 92), 16);
    const uint32_t dirs = kOpt + (layout.plus ? 112 : 96);

    uint32_t sizeOfImage = 0x1000;
    uint32_t raw = 0x400;
    const uint32_t table = kOpt + optSize;
    for (size_t i = 0; i < layout.sections.size(); ++i) {
        const PeSection &s = layout.sections[i];
        const uint32_t rawSize = (static_cast<uint32_t>(s.raw.size()) + 0x1FF) & ~0x1FFu;
        const uint32_t entry = table + static_cast<uint32_t>(i) * 40;
        std::copy(s.name.begin(), s.name.end(), b.begin() + entry);
        put32(&b, entry + 8, static_cast<uint32_t>(s.raw.size()));
        put32(&b, entry + 12, s.rva);
        put32(&b, entry + 16, rawSize);
        put32(&b, entry + 20, raw);
        b.resize(raw + rawSize, 0);
        std::copy(s.raw.begin(), s.raw.end(), b.begin() + raw);
        raw += rawSize;
        sizeOfImage =
            std::max(sizeOfImage, (s.rva + static_cast<uint32_t>(s.raw.size()) + 0xFFF) & ~0xFFFu);
        if (static_cast<int>(i) == layout.relocSection) {
            put32(&b, dirs + 5 * 8, s.rva);
            put32(&b, dirs + 5 * 8 + 4, static_cast<uint32_t>(s.raw.size()));
        }
    }
    put32(&b, kOpt + 56, sizeOfImage);
    return b;
}

Bytes le32(uint32_t v)
{
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// One relocation block for page 0x1000 holding the given entries, padded to
// an even count the way linkers write it.
Bytes relocBlock(uint32_t page, std::vector<uint16_t> entries)
{
    if (entries.size() % 2)
        entries.push_back(0);
    Bytes out = concat({le32(page), le32(8 + 2 * static_cast<uint32_t>(entries.size()))});
    for (uint16_t e : entries) {
        out.push_back(static_cast<uint8_t>(e));
        out.push_back(static_cast<uint8_t>(e >> 8));
    }
    return out;
}

// A small image with one absolute address (at .text+0x20, pointing at .data)
// and a handful of branches.
PeLayout smallImage(bool plus)
{
    PeLayout layout;
    layout.plus = plus;
    Bytes text(0x40, 0x90);
    exetest::putBytes(&text, 0x00, concat({{0xE8}, le32(0x10 - 5)})); // call .text+0x10
    exetest::putBytes(&text, 0x20, le32(0x402000));                   // absolute address
    if (plus)
        exetest::putBytes(&text, 0x24, le32(0));
    layout.sections.push_back({".text", 0x1000, text});
    layout.sections.push_back({".data", 0x2000, Bytes(0x20, 0x11)});
    const uint16_t type = plus ? 0xA000 : 0x3000;
    layout.sections.push_back({".reloc", 0x3000, relocBlock(0x1000, {uint16_t(type | 0x020)})});
    layout.relocSection = 2;
    return layout;
}

std::string checkHeader(bool x64, const Bytes &b)
{
    std::unique_ptr<DisassemblerWin32> d;
    if (x64)
        d = std::make_unique<DisassemblerWin32X64>(b.data(), b.size());
    else
        d = std::make_unique<DisassemblerWin32X86>(b.data(), b.size());
    const bool ok = d->CheckHeader();
    EXPECT_EQ(ok, d->failure_reason() == nullptr);
    return ok ? "accepted" : d->failure_reason();
}

} // namespace

// Real mingw-w64 builds: detection, and the parse/encode/save/load/assemble
// path gives back every byte of the detected length.
TEST(DisassemblerWin32Test, RealBuildsRoundTripExactly)
{
    const struct
    {
        const char *file;
        ExecutableType kind;
        uint64_t imageBase;
    } cases[] = {
        {"pe/fixture_x86_v1.exe", EXE_WIN_32_X86, 0x400000},
        {"pe/fixture_x86_v2.exe", EXE_WIN_32_X86, 0x400000},
        {"pe/fixture_x86.dll", EXE_WIN_32_X86, 0x6DC00000},
        {"pe/fixture_x64_v1.exe", EXE_WIN_32_X64, 0x140000000},
        {"pe/fixture_x64_v2.exe", EXE_WIN_32_X64, 0x140000000},
        {"pe/fixture_x64.dll", EXE_WIN_32_X64, 0x205070000},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const Bytes data = exetest::readFixture(c.file);
        ASSERT_FALSE(data.empty());
        ExecutableType kind = EXE_UNKNOWN;
        size_t length = 0;
        ASSERT_EQ(DetectExecutableKind(data.data(), data.size(), &kind, &length), PS_OK);
        EXPECT_EQ(kind, c.kind);
        EXPECT_EQ(length, data.size());

        std::unique_ptr<DisassembledProgram> program;
        ASSERT_EQ(ParseExecutable(data.data(), data.size(), &program), PS_OK);
        // The base relocations and the branch scan both found fields.
        EXPECT_GT(program->abs32_labels().size(), 10u);
        EXPECT_GT(program->rel32_labels().size(), 10u);
        EXPECT_EQ(program->image_base(), c.imageBase);

        Bytes assembled;
        ASSERT_TRUE(exetest::roundTrip(data, &assembled));
        EXPECT_TRUE(assembled == Bytes(data.begin(), data.begin() + static_cast<long>(length)));
    }
}

TEST(DisassemblerWin32Test, WidthDecidesWhichDisassemblerAccepts)
{
    const Bytes pe32 = buildPe(smallImage(false));
    const Bytes pe32plus = buildPe(smallImage(true));
    EXPECT_EQ(checkHeader(false, pe32), "accepted");
    EXPECT_EQ(checkHeader(true, pe32), "32 bit executables are not supported by this disassembler");
    EXPECT_EQ(checkHeader(false, pe32plus),
              "64 bit executables are not supported by this disassembler");
    EXPECT_EQ(checkHeader(true, pe32plus), "accepted");

    ExecutableType kind = EXE_UNKNOWN;
    size_t length = 0;
    ASSERT_EQ(DetectExecutableKind(pe32plus.data(), pe32plus.size(), &kind, &length), PS_OK);
    EXPECT_EQ(kind, EXE_WIN_32_X64);
    ASSERT_EQ(DetectExecutableKind(pe32.data(), pe32.size(), &kind, &length), PS_OK);
    EXPECT_EQ(kind, EXE_WIN_32_X86);
}

TEST(DisassemblerWin32Test, HeaderChecksRejectWithTheirMessage)
{
    using Edit = std::function<void(Bytes *)>;
    const struct
    {
        const char *what;
        bool plus;
        Edit edit;
        const char *message;
    } cases[] = {
        {"63 bytes", false, [](Bytes *b) { b->resize(63); }, "Too small"},
        {"no MZ", false, [](Bytes *b) { (*b)[0] = 'N'; }, "Not MZ"},
        {"e_lfanew 0", false, [](Bytes *b) { put32(b, 60, 0); }, "Bad offset to PE header"},
        {"e_lfanew past end", false, [](Bytes *b) { put32(b, 60, 0x7FFFFFF8); },
         "Bad offset to PE header"},
        {"e_lfanew 24 bytes before end", false,
         [](Bytes *b) { put32(b, 60, static_cast<uint32_t>(b->size() - 24)); },
         "Bad offset to PE header"},
        {"e_lfanew 0x84", false, [](Bytes *b) { put32(b, 60, 0x84); }, "Misaligned PE header"},
        {"signature", false, [](Bytes *b) { (*b)[kPe + 2] = 1; }, "no PE signature"},
        {"optional header past end", false, [](Bytes *b) { put16(b, kPe + 20, 0xFFFF); },
         "optional header past end of file"},
        {"optional header size 1", false, [](Bytes *b) { put16(b, kPe + 20, 1); },
         "optional header no magic"},
        {"optional magic", false, [](Bytes *b) { put16(b, kOpt, 0x107); }, "unrecognized magic"},
        {"PE32 optional header 95", false, [](Bytes *b) { put16(b, kPe + 20, 95); },
         "optional header too short"},
        {"PE32+ optional header 111", true, [](Bytes *b) { put16(b, kPe + 20, 111); },
         "optional header too short"},
        {"directories beyond optional header", false, [](Bytes *b) { put16(b, kPe + 20, 96); },
         "malformed data directory"},
        {"directory larger than image", false,
         [](Bytes *b) { put32(b, kOpt + 96 + 5 * 8 + 4, 0x7FFFFFFF); }, "malformed data directory"},
        {"section table past end", false, [](Bytes *b) { put16(b, kPe + 6, 0xFFFF); },
         "optional header past end of file"},
        {"section data past end", false,
         [](Bytes *b) { put32(b, kOpt + 224 + 40 + 20, static_cast<uint32_t>(b->size())); },
         "section data past end of file"},
        {"raw range wrapping 32 bits", false,
         [](Bytes *b) { put32(b, kOpt + 224 + 40 + 16, 0xFFFFFE00); },
         "section data past end of file"},
        {"resource only", false, [](Bytes *b) { (*b)[kOpt + 224 + 1] = 'r'; },
         "Resource-only executables are not yet supported"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = buildPe(smallImage(c.plus));
        c.edit(&b);
        EXPECT_EQ(checkHeader(c.plus, b), c.message);
    }
}

TEST(DisassemblerWin32Test, LengthShrinksToTheLastSectionAndExcludesAppendedData)
{
    Bytes b = buildPe(smallImage(false));
    const size_t imageSize = b.size();
    b.insert(b.end(), 100, 0xAB);
    DisassemblerWin32X86 d(b.data(), b.size());
    ASSERT_TRUE(d.CheckHeader());
    EXPECT_EQ(d.length(), imageSize);
}

TEST(DisassemblerWin32Test, MalformedRelocationsFailTheBuild)
{
    const struct
    {
        const char *what;
        bool plus;
        Bytes relocs;
        const char *message;
    } cases[] = {
        {"HIGHLOW in PE32+", true, relocBlock(0x1000, {0x3020}), "unknown type of reloc"},
        {"DIR64 in PE32", false, relocBlock(0x1000, {0xA020}), "unknown type of reloc"},
        {"type 1", false, relocBlock(0x1000, {0x1020}), "unknown type of reloc"},
        {"block of size 10", false, concat({le32(0x1000), le32(10), {0x20, 0x30, 0, 0}}),
         "unreasonable relocs block"},
        {"block of size 4", false, concat({le32(0x1000), le32(4), {0x20, 0x30, 0, 0}}),
         "unreasonable relocs block"},
        {"block past end of file", false,
         concat({le32(0x1000), le32(0x100000), {0x20, 0x30, 0, 0}}), ".relocs block outside image"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        PeLayout layout = smallImage(c.plus);
        layout.sections[2].raw = c.relocs;
        const Bytes b = buildPe(layout);
        std::unique_ptr<DisassemblerWin32> d;
        if (c.plus)
            d = std::make_unique<DisassemblerWin32X64>(b.data(), b.size());
        else
            d = std::make_unique<DisassemblerWin32X86>(b.data(), b.size());
        ASSERT_TRUE(d->CheckHeader());
        DisassembledProgram program(d->kind());
        EXPECT_FALSE(d->BuildProgram(&program));
        ASSERT_NE(d->failure_reason(), nullptr);
        EXPECT_STREQ(d->failure_reason(), c.message);

        std::unique_ptr<DisassembledProgram> parsed;
        EXPECT_EQ(ParseExecutable(b.data(), b.size(), &parsed), PS_DISASSEMBLY_FAILED);
        EXPECT_EQ(parsed, nullptr);
    }

    // A directory whose RVA lies in no section's raw data.
    Bytes b = buildPe(smallImage(false));
    put32(&b, kOpt + 96 + 5 * 8, 0x9000);
    DisassemblerWin32X86 d(b.data(), b.size());
    ASSERT_TRUE(d.CheckHeader());
    DisassembledProgram program(d.kind());
    EXPECT_FALSE(d.BuildProgram(&program));
    EXPECT_STREQ(d.failure_reason(), ".relocs outside image");
}

TEST(DisassemblerWin32Test, RelocationsGiveSortedAbs32Locations)
{
    PeLayout layout = smallImage(false);
    layout.sections[2].raw = concat(
        {relocBlock(0x2000, {0x3008, 0x3004}), relocBlock(0x1000, {0x3020, 0x0000, 0x3030})});
    const Bytes b = buildPe(layout);
    DisassemblerWin32X86 d(b.data(), b.size());
    ASSERT_TRUE(d.CheckHeader());
    ASSERT_TRUE(d.ParseBaseRelocations());
    EXPECT_EQ(d.abs32_locations(), (std::vector<uint32_t>{0x1020, 0x1030, 0x2004, 0x2008}));
    EXPECT_EQ(d.RVAToFileOffset(0x1020), 0x420u);
    EXPECT_EQ(d.RVAToFileOffset(0x2004), 0x604u);
    EXPECT_EQ(d.RVAToFileOffset(0x1000 + 0x40),
              DisassemblerWin32::kNoFileOffset); // past VirtualSize
    EXPECT_EQ(d.RVAToFileOffset(2), 2u);
}

// Which byte patterns count as relative fields, for both widths.
TEST(DisassemblerWin32Test, Rel32ScanFollowsTheTargetRules)
{
    for (bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        PeLayout layout = smallImage(plus);
        Bytes text(0x80, 0x90);
        // call into .text: a field.
        exetest::putBytes(&text, 0x00, concat({{0xE8}, le32(0x60 - 5)}));
        // call into .data, another section: not a field for E8/E9 and 0F 8x.
        exetest::putBytes(&text, 0x05, concat({{0xE9}, le32(0x2000 - 0x100A)}));
        // jp rel32 is never taken.
        exetest::putBytes(&text, 0x0A, concat({{0x0F, 0x8A}, le32(0)}));
        // jne rel32 inside .text: a field.
        exetest::putBytes(&text, 0x10, concat({{0x0F, 0x85}, le32(0x20)}));
        // call [rip+disp] and lea rax,[rip+disp] into .data: fields in PE32+ only.
        exetest::putBytes(&text, 0x16, concat({{0xFF, 0x15}, le32(0x2000 - 0x101C)}));
        exetest::putBytes(&text, 0x1C, concat({{0x48, 0x8D, 0x05}, le32(0x2000 - 0x1023)}));
        // A target beyond SizeOfImage is never a field.
        exetest::putBytes(&text, 0x23, concat({{0xFF, 0x25}, le32(0x100000)}));
        layout.sections[0].raw = text;
        layout.sections[2].raw = relocBlock(0x1000, {uint16_t((plus ? 0xA000 : 0x3000) | 0x70)});
        exetest::putBytes(&layout.sections[0].raw, 0x70, le32(0x402000));
        const Bytes b = buildPe(layout);

        std::unique_ptr<DisassemblerWin32> d;
        if (plus)
            d = std::make_unique<DisassemblerWin32X64>(b.data(), b.size());
        else
            d = std::make_unique<DisassemblerWin32X86>(b.data(), b.size());
        ASSERT_TRUE(d->CheckHeader());
        ASSERT_TRUE(d->ParseBaseRelocations());
        d->ParseRel32Locations();
        const std::vector<uint32_t> expected =
            plus ? std::vector<uint32_t>{0x1001, 0x1012, 0x1018, 0x101F}
                 : std::vector<uint32_t>{0x1001, 0x1012};
        EXPECT_EQ(d->rel32_locations(), expected);

        Bytes assembled;
        ASSERT_TRUE(exetest::roundTrip(b, &assembled));
        EXPECT_TRUE(assembled == b);
    }
}

// A candidate whose field overlaps an absolute address is dropped, and the
// scan resumes right after the absolute field.
TEST(DisassemblerWin32Test, Rel32CandidateOverlappingAbs32IsSkipped)
{
    PeLayout layout = smallImage(false);
    Bytes text(0x40, 0x90);
    exetest::putBytes(&text, 0x00, concat({{0xE8}, le32(0x30 - 5)})); // field 0x1001..0x1004
    exetest::putBytes(&text, 0x03, le32(0x402000));                   // abs32 at 0x1003
    exetest::putBytes(&text, 0x07, concat({{0xE8}, le32(0x30 - 0x0C)}));
    layout.sections[0].raw = text;
    layout.sections[2].raw = relocBlock(0x1000, {0x3003});
    const Bytes b = buildPe(layout);
    DisassemblerWin32X86 d(b.data(), b.size());
    ASSERT_TRUE(d.CheckHeader());
    ASSERT_TRUE(d.ParseBaseRelocations());
    d.ParseRel32Locations();
    EXPECT_EQ(d.rel32_locations(), std::vector<uint32_t>{0x1008});

    std::unique_ptr<DisassembledProgram> program;
    ASSERT_EQ(ParseExecutable(b.data(), b.size(), &program), PS_OK);
    ASSERT_EQ(program->abs32_labels().size(), 1u);
    EXPECT_EQ(program->abs32_labels().begin()->first, 0x2000u); // stored address - ImageBase
    Bytes assembled;
    ASSERT_TRUE(exetest::roundTrip(b, &assembled));
    EXPECT_TRUE(assembled == b);
}

TEST(DisassemblerWin32Test, TruncatedAndCorruptedFilesFailCleanly)
{
    uint32_t seed = 1;
    for (const char *file : {"pe/fixture_x86.dll", "pe/fixture_x64.dll"})
        exetest::abuse(exetest::readFixture(file), seed++);
    exetest::abuse(buildPe(smallImage(false)), seed++);
    exetest::abuse(buildPe(smallImage(true)), seed++);
    // Headers, section table and the relocation block of the small images.
    for (bool plus : {false, true}) {
        const Bytes image = buildPe(smallImage(plus));
        exetest::sweepHeaderWords(image, 0, 0x200);
        exetest::sweepHeaderWords(image, 0x800, 0x820);
    }
}
