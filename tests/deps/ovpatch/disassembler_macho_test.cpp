#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "disassembled_program.h"
#include "disassembler.h"
#include "disassembler_macho.h"
#include "exe_test_helpers.h"
#include "logcapture.h"

using namespace ovpatch;
using exetest::Bytes;
using exetest::put32;
using exetest::put64;

namespace {

struct MachoSectionSpec
{
    uint64_t addr;
    uint64_t size;
    uint32_t offset;
    uint32_t flags;
};

constexpr uint32_t kCode = 0x80000400;

// One segment command of either width with its sections.
Bytes segmentCommand(bool is64, uint64_t vmaddr, uint64_t vmsize, uint64_t fileoff,
                     uint64_t filesize, const std::vector<MachoSectionSpec> &sections)
{
    const uint32_t head = is64 ? 72 : 56;
    const uint32_t each = is64 ? 80 : 68;
    Bytes c(head + each * sections.size(), 0);
    put32(&c, 0, is64 ? 0x19 : 0x1);
    put32(&c, 4, static_cast<uint32_t>(c.size()));
    if (is64) {
        put64(&c, 24, vmaddr);
        put64(&c, 32, vmsize);
        put64(&c, 40, fileoff);
        put64(&c, 48, filesize);
        put32(&c, 64, static_cast<uint32_t>(sections.size()));
    } else {
        put32(&c, 24, static_cast<uint32_t>(vmaddr));
        put32(&c, 28, static_cast<uint32_t>(vmsize));
        put32(&c, 32, static_cast<uint32_t>(fileoff));
        put32(&c, 36, static_cast<uint32_t>(filesize));
        put32(&c, 48, static_cast<uint32_t>(sections.size()));
    }
    for (size_t i = 0; i < sections.size(); ++i) {
        const size_t s = head + each * i;
        if (is64) {
            put64(&c, s + 32, sections[i].addr);
            put64(&c, s + 40, sections[i].size);
            put32(&c, s + 48, sections[i].offset);
            put32(&c, s + 64, sections[i].flags);
        } else {
            put32(&c, s + 32, static_cast<uint32_t>(sections[i].addr));
            put32(&c, s + 36, static_cast<uint32_t>(sections[i].size));
            put32(&c, s + 40, sections[i].offset);
            put32(&c, s + 56, sections[i].flags);
        }
    }
    return c;
}

// Header, load commands and file contents; the contents are placed at their
// absolute offsets.
Bytes buildMacho(bool is64, uint32_t filetype, const std::vector<Bytes> &commands, size_t fileSize)
{
    Bytes b(fileSize, 0);
    put32(&b, 0, is64 ? 0xFEEDFACF : 0xFEEDFACE);
    put32(&b, 4, is64 ? 0x01000007 : 7);
    put32(&b, 8, 3);
    put32(&b, 12, filetype);
    put32(&b, 16, static_cast<uint32_t>(commands.size()));
    size_t at = is64 ? 32 : 28;
    uint32_t total = 0;
    for (const Bytes &c : commands) {
        exetest::putBytes(&b, at, c);
        at += c.size();
        total += static_cast<uint32_t>(c.size());
    }
    put32(&b, 20, total);
    return b;
}

// A zero page, __TEXT [file 0, 0x1000) with a 0x40-byte code section at 0x400
// and __DATA [file 0x1000, 0x1100) two pages further up; 0x40 bytes of
// trailing data follow. Virtual layout (RVAs): __TEXT at 0, __DATA at 0x2000.
struct MachoImage
{
    bool is64;
    uint64_t base;
    std::vector<Bytes> commands;
    Bytes text = Bytes(0x40, 0x90);

    explicit MachoImage(bool wide) : is64(wide), base(wide ? 0x100000000ull : 0x1000)
    {
        commands.push_back(segmentCommand(is64, 0, base, 0, 0, {}));
        commands.push_back(
            segmentCommand(is64, base, 0x2000, 0, 0x1000, {{base + 0x400, 0x40, 0x400, kCode}}));
        commands.push_back(segmentCommand(is64, base + 0x2000, 0x1000, 0x1000, 0x100,
                                          {{base + 0x2000, 0x100, 0x1000, 0}}));
    }

    Bytes build(uint32_t filetype = 2) const
    {
        Bytes b = buildMacho(is64, filetype, commands, 0x1140);
        exetest::putBytes(&b, 0x400, text);
        return b;
    }
};

std::string checkHeader(const Bytes &b)
{
    DisassemblerMacho d(b.data(), b.size());
    const bool ok = d.CheckHeader();
    EXPECT_EQ(ok, d.failure_reason() == nullptr);
    return ok ? "accepted" : d.failure_reason();
}

} // namespace

TEST(DisassemblerMachoTest, FixturesDetectAndRoundTripExactly)
{
    const struct
    {
        const char *file;
        ExecutableType kind;
        size_t length; // the largest segment end; 0 = the whole file
    } cases[] = {
        // 32-bit files keep every segment, link-edit data included.
        {"macho/gen_x86_v1", EXE_MACHO_X86, 0},
        {"macho/gen_x86_v2", EXE_MACHO_X86, 0},
        // 64-bit files leave section-less segments (link-edit) outside.
        {"macho/gen_x64_v1", EXE_MACHO_X64, 0x2000},
        {"macho/gen_x64_v2", EXE_MACHO_X64, 0x2000},
        {"macho/linked_x64_v1", EXE_MACHO_X64, 0x1000},
        {"macho/linked_x64_v2", EXE_MACHO_X64, 0x1000},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const Bytes data = exetest::readFixture(c.file);
        ASSERT_FALSE(data.empty());
        ExecutableType kind = EXE_UNKNOWN;
        size_t length = 0;
        ASSERT_EQ(DetectExecutableKind(data.data(), data.size(), &kind, &length), PS_OK);
        EXPECT_EQ(kind, c.kind);
        EXPECT_EQ(length, c.length ? c.length : data.size());

        std::unique_ptr<DisassembledProgram> program;
        ASSERT_EQ(ParseExecutable(data.data(), data.size(), &program), PS_OK);
        EXPECT_EQ(program->kind(), c.kind);
        EXPECT_EQ(program->image_base(), 0u);
        EXPECT_TRUE(program->abs32_labels().empty());
        EXPECT_GT(program->rel32_labels().size(), 5u);

        Bytes assembled;
        ASSERT_TRUE(exetest::roundTrip(data, &assembled));
        EXPECT_TRUE(assembled == Bytes(data.begin(), data.begin() + static_cast<long>(length)));
    }
}

TEST(DisassemblerMachoTest, HeaderChecksRejectWithTheirMessage)
{
    using Edit = std::function<void(MachoImage *, Bytes *)>;
    const struct
    {
        const char *what;
        bool is64;
        Edit edit;
        const char *message;
    } cases[] = {
        {"valid 64-bit, zero page of 4 GiB", true, [](MachoImage *, Bytes *) {}, "accepted"},
        {"valid 32-bit", false, [](MachoImage *, Bytes *) {}, "accepted"},
        {"31 bytes", true, [](MachoImage *, Bytes *b) { b->resize(31); }, "Too small"},
        {"magic", true, [](MachoImage *, Bytes *b) { put32(b, 0, 0xCEFAEDFE); },
         "Unknown magic type"},
        {"64-bit with x86 cpu", true, [](MachoImage *, Bytes *b) { put32(b, 4, 7); },
         "unsupported cpu type"},
        {"32-bit with arm cpu", false, [](MachoImage *, Bytes *b) { put32(b, 4, 12); },
         "unsupported cpu type"},
        {"object file", true, [](MachoImage *, Bytes *b) { put32(b, 12, 1); },
         "Unsupported filetype in header"},
        {"filetype 9", false, [](MachoImage *, Bytes *b) { put32(b, 12, 9); },
         "Unsupported filetype in header"},
        {"dylib", true, [](MachoImage *, Bytes *b) { put32(b, 12, 6); }, "accepted"},
        {"LC_SEGMENT in 64-bit file", true,
         [](MachoImage *m, Bytes *) {
             m->commands[0] = segmentCommand(false, 0, 0x1000, 0, 0, {});
         },
         "LC_SEGMENT not supported"},
        {"LC_SEGMENT_64 in 32-bit file", false,
         [](MachoImage *m, Bytes *) { m->commands[0] = segmentCommand(true, 0, 0x1000, 0, 0, {}); },
         "LC_SEGMENT_64 not supported"},
        {"short LC_SEGMENT_64", true, [](MachoImage *m, Bytes *) { put32(&m->commands[0], 4, 64); },
         "bad LC_SEGMENT_64"},
        {"short LC_SEGMENT", false, [](MachoImage *m, Bytes *) { put32(&m->commands[0], 4, 48); },
         "bad LC_SEGMENT"},
        {"ncmds past the commands", true, [](MachoImage *, Bytes *b) { put32(b, 16, 1000); },
         "file to small in load commands"},
        {"cmdsize past end", true,
         [](MachoImage *m, Bytes *) { put32(&m->commands[2], 4, 0x10000); },
         "file to small in load commands"},
        {"cmdsize 0", false, [](MachoImage *m, Bytes *) { put32(&m->commands[0], 4, 0); },
         "file to small in load commands"},
        {"segment beyond file", true,
         [](MachoImage *m, Bytes *) { put64(&m->commands[2], 48, 0x1000); }, "segment too large"},
        {"sections beyond command", true,
         [](MachoImage *m, Bytes *) { put32(&m->commands[1], 64, 2); }, "sections too small"},
        {"code section past segment", true,
         [](MachoImage *m, Bytes *) { put64(&m->commands[1], 72 + 40, 0x1C01); },
         "section larger than segment"},
        {"code section below segment", false,
         [](MachoImage *m, Bytes *) { put32(&m->commands[1], 56 + 32, 0x800); },
         "section larger than segment"},
        {"code bytes past segment data", false,
         [](MachoImage *m, Bytes *) { put32(&m->commands[1], 56 + 40, 0x10F0); },
         "section larger than segment"},
        {"64-bit segment of 4 GiB with sections", true,
         [](MachoImage *m, Bytes *) { put64(&m->commands[1], 32, 0x100000000ull); }, "overflow"},
        {"code section of 4 GiB", true,
         [](MachoImage *m, Bytes *) { put64(&m->commands[1], 72 + 40, 0x100000000ull); },
         "overflow"},
        {"rebased end beyond 32 bits", false,
         [](MachoImage *m, Bytes *) { put32(&m->commands[2], 24, 0xFFFFF800); }, "overflow"},
        {"no code section", true,
         [](MachoImage *m, Bytes *) { put32(&m->commands[1], 72 + 64, 0x400); },
         "Resource-only executables are not yet supported"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        MachoImage image(c.is64);
        Bytes unused;
        c.edit(&image, &unused);
        Bytes b = image.build();
        // Edits of the file's own header apply after it is laid out.
        c.edit(&image, &b);
        EXPECT_EQ(checkHeader(b), c.message);
    }
}

TEST(DisassemblerMachoTest, SegmentsAreRebasedAndLengthEndsAtTheLastSegment)
{
    const Bytes b = MachoImage(true).build();
    DisassemblerMacho d(b.data(), b.size());
    ASSERT_TRUE(d.CheckHeader());
    EXPECT_EQ(d.kind(), EXE_MACHO_X64);
    ASSERT_EQ(d.segments().size(), 2u); // the zero page is not recorded
    EXPECT_EQ(d.segments()[0].vmaddr, 0u);
    EXPECT_EQ(d.segments()[1].vmaddr, 0x2000u);
    ASSERT_EQ(d.code_sections().size(), 1u);
    EXPECT_EQ(d.code_sections()[0].addr, 0x400u);
    EXPECT_EQ(d.length(), 0x1100u);

    EXPECT_EQ(d.RVAToFileOffset(0x410), 0x410u);
    EXPECT_EQ(d.RVAToFileOffset(0x2010), 0x1010u);
    EXPECT_EQ(d.RVAToFileOffset(0x2200), DisassemblerMacho::kNoFileOffset); // beyond filesize
    LogCapture log;
    EXPECT_EQ(d.RVAToFileOffset(0x5000), DisassemblerMacho::kNoFileOffset);
    EXPECT_TRUE(log.contains("RVAToFileOffset reached invalid point"));

    const Bytes b32 = MachoImage(false).build();
    DisassemblerMacho d32(b32.data(), b32.size());
    ASSERT_TRUE(d32.CheckHeader());
    EXPECT_EQ(d32.kind(), EXE_MACHO_X86);
    EXPECT_EQ(d32.segments().size(), 3u); // 32-bit files record the zero page
    EXPECT_EQ(d32.segments()[1].vmaddr, 0x1000u);
}

// Unlike PE, a branch into another segment is a field; only targets outside
// every segment are refused. 32-bit files know no RIP-relative forms.
TEST(DisassemblerMachoTest, Rel32ScanAcceptsTargetsInAnySegment)
{
    for (bool is64 : {false, true}) {
        SCOPED_TRACE(is64 ? "64-bit" : "32-bit");
        MachoImage image(is64);
        const uint32_t text = is64 ? 0x400 : 0x1400;  // RVA of the code section
        const uint32_t data = is64 ? 0x2000 : 0x3000; // RVA of __DATA
        Bytes &t = image.text;
        auto put = [&](size_t at, Bytes opcode, uint32_t target) {
            const uint32_t end = text + static_cast<uint32_t>(at + opcode.size()) + 4;
            opcode.insert(opcode.end(), {0, 0, 0, 0});
            exetest::putBytes(&t, at, opcode);
            put32(&t, at + opcode.size() - 4, target - end);
        };
        put(0x00, {0xE8}, data + 8);         // call into __DATA: a field
        put(0x05, {0xE9}, 0x7FFF0000);       // outside every segment: not one
        put(0x10, {0x0F, 0x84}, text);       // je back to the start: a field
        put(0x16, {0xFF, 0x15}, data);       // call [rip+disp]: 64-bit only
        put(0x1C, {0x48, 0x8B, 0x05}, data); // mov rax,[rip+disp]: 64-bit only
        const Bytes b = image.build();

        DisassemblerMacho d(b.data(), b.size());
        ASSERT_TRUE(d.CheckHeader());
        d.ParseRel32Locations();
        std::vector<uint32_t> expected = {text + 1, text + 0x12};
        if (is64) {
            expected.push_back(text + 0x18);
            expected.push_back(text + 0x1F);
        }
        EXPECT_EQ(d.rel32_locations(), expected);

        std::unique_ptr<DisassembledProgram> program;
        ASSERT_EQ(ParseExecutable(b.data(), b.size(), &program), PS_OK);
        EXPECT_EQ(program->rel32_labels().count(data + 8), 1u);
        Bytes assembled;
        ASSERT_TRUE(exetest::roundTrip(b, &assembled));
        EXPECT_TRUE(assembled == Bytes(b.begin(), b.begin() + 0x1100));
    }
}

// An empty code section must not stop the walk.
TEST(DisassemblerMachoTest, EmptyCodeSectionIsWalkedOnce)
{
    MachoImage image(true);
    image.commands[1] = segmentCommand(
        true, image.base, 0x2000, 0, 0x1000,
        {{image.base + 0x400, 0, 0x400, kCode}, {image.base + 0x400, 0x40, 0x400, kCode}});
    const Bytes b = image.build();
    Bytes assembled;
    ASSERT_TRUE(exetest::roundTrip(b, &assembled));
    EXPECT_TRUE(assembled == Bytes(b.begin(), b.begin() + 0x1100));
}

TEST(DisassemblerMachoTest, UniversalFileListsItsSlices)
{
    const Bytes fat = exetest::readFixture("macho/universal");
    std::vector<MachoSlice> slices;
    ASSERT_TRUE(ListUniversalMachoSlices(fat.data(), fat.size(), &slices));
    ASSERT_EQ(slices.size(), 2u);
    EXPECT_EQ(slices[0].cputype, 7u);
    EXPECT_EQ(slices[1].cputype, 0x01000007u);
    const Bytes thin[] = {exetest::readFixture("macho/gen_x86_v1"),
                          exetest::readFixture("macho/gen_x64_v1")};
    const ExecutableType kinds[] = {EXE_MACHO_X86, EXE_MACHO_X64};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(slices[i].offset % 0x1000, 0u);
        ASSERT_EQ(slices[i].size, thin[i].size());
        const Bytes slice(fat.begin() + static_cast<long>(slices[i].offset),
                          fat.begin() + static_cast<long>(slices[i].offset + slices[i].size));
        EXPECT_TRUE(slice == thin[i]);
        ExecutableType kind = EXE_UNKNOWN;
        size_t length = 0;
        ASSERT_EQ(DetectExecutableKind(slice.data(), slice.size(), &kind, &length), PS_OK);
        EXPECT_EQ(kind, kinds[i]);
    }
    // The fat file as a whole is not an executable of its own.
    ExecutableType kind = EXE_UNKNOWN;
    size_t length = 0;
    EXPECT_EQ(DetectExecutableKind(fat.data(), fat.size(), &kind, &length), PS_NOT_EXECUTABLE);

    const struct
    {
        const char *what;
        Bytes bytes;
    } rejected[] = {
        {"truncated slice",
         Bytes(fat.begin(),
               fat.begin() + static_cast<long>(slices[1].offset + slices[1].size - 1))},
        {"truncated table", Bytes(fat.begin(), fat.begin() + 20)},
        {"java class file", {0xCA, 0xFE, 0xBA, 0xBE, 0x00, 0x00, 0x00, 0x34, 0, 0, 0, 0}},
        {"no slices", {0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0, 0}},
        {"thin file", exetest::readFixture("macho/gen_x64_v1")},
        {"empty", {}},
    };
    for (const auto &r : rejected) {
        SCOPED_TRACE(r.what);
        slices.assign(1, MachoSlice());
        EXPECT_FALSE(ListUniversalMachoSlices(r.bytes.data(), r.bytes.size(), &slices));
        EXPECT_TRUE(slices.empty());
    }

    // 64-bit slice records.
    Bytes fat64 = {0xCA, 0xFE, 0xBA, 0xBF, 0, 0, 0, 1};
    Bytes record(32, 0);
    record[3] = 7;
    record[15] = 0x40; // offset 0x40
    record[23] = 0x10; // size 0x10
    fat64.insert(fat64.end(), record.begin(), record.end());
    fat64.resize(0x50, 0);
    ASSERT_TRUE(ListUniversalMachoSlices(fat64.data(), fat64.size(), &slices));
    ASSERT_EQ(slices.size(), 1u);
    EXPECT_EQ(slices[0].offset, 0x40u);
    EXPECT_EQ(slices[0].size, 0x10u);
    fat64.resize(0x4F);
    EXPECT_FALSE(ListUniversalMachoSlices(fat64.data(), fat64.size(), &slices));
}

TEST(DisassemblerMachoTest, TruncatedAndCorruptedFilesFailCleanly)
{
    uint32_t seed = 11;
    for (const char *file : {"macho/gen_x86_v1", "macho/gen_x64_v1", "macho/linked_x64_v1"})
        exetest::abuse(exetest::readFixture(file), seed++);
    exetest::abuse(MachoImage(false).build(), seed++);
    exetest::abuse(MachoImage(true).build(), seed++);
    // Header and every load command of the small images.
    exetest::sweepHeaderWords(MachoImage(false).build(), 0, 0x1A0);
    exetest::sweepHeaderWords(MachoImage(true).build(), 0, 0x1A0);
    const Bytes fat = exetest::readFixture("macho/universal");
    exetest::Xorshift random(seed);
    std::vector<MachoSlice> slices;
    for (int round = 0; round < 200; ++round) {
        Bytes bytes(fat.begin(), fat.begin() + 64);
        bytes[8 + random.next() % 40] = static_cast<uint8_t>(random.next());
        bytes.resize(random.next() % 64);
        if (ListUniversalMachoSlices(bytes.data(), bytes.size(), &slices)) {
            for (const MachoSlice &s : slices)
                EXPECT_LE(s.offset + s.size, bytes.size());
        }
    }
}
