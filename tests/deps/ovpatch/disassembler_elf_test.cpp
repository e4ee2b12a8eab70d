#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "disassembler_elf32_arm.h"
#include "disassembler_elf32_x86.h"
#include "disassembler_elf64_x64.h"
#include "logcapture.h"
#include "programroundtrip.h"

using namespace ovpatch;

namespace {

void put16(Bytes *b, size_t at, uint32_t v)
{
    (*b)[at] = static_cast<uint8_t>(v);
    (*b)[at + 1] = static_cast<uint8_t>(v >> 8);
}

void put32(Bytes *b, size_t at, uint32_t v)
{
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

struct Section
{
    uint32_t type, offset, size, entsize;
};

constexpr uint32_t kSectionTable = 0x500;

// A small ELF32 file: header, one PT_LOAD segment mapping the first 0x500
// bytes at RVA 0 (RVA = file offset), the given sections (address = offset)
// and the section table at 0x500. Section 0 is the null section.
Bytes elf32(uint16_t machine, const std::vector<Section> &sections)
{
    Bytes b(kSectionTable + 40 * (sections.size() + 1), 0);
    const uint8_t ident[] = {0x7F, 'E', 'L', 'F', 1, 1, 1};
    std::memcpy(b.data(), ident, sizeof(ident));
    put16(&b, 16, 3); // ET_DYN
    put16(&b, 18, machine);
    put32(&b, 20, 1);
    put32(&b, 28, 52);            // e_phoff
    put32(&b, 32, kSectionTable); // e_shoff
    put16(&b, 40, 52);
    put16(&b, 42, 32);
    put16(&b, 44, 1);
    put16(&b, 46, 40);
    put16(&b, 48, static_cast<uint32_t>(sections.size() + 1));
    put16(&b, 50, 0);
    put32(&b, 52, 1);                  // PT_LOAD
    put32(&b, 52 + 16, kSectionTable); // p_filesz
    put32(&b, 52 + 20, kSectionTable); // p_memsz
    for (size_t i = 0; i < sections.size(); ++i) {
        const size_t at = kSectionTable + 40 * (i + 1);
        put32(&b, at + 4, sections[i].type);
        put32(&b, at + 12, sections[i].offset);
        put32(&b, at + 16, sections[i].offset);
        put32(&b, at + 20, sections[i].size);
        put32(&b, at + 36, sections[i].entsize);
    }
    return b;
}

// Code at 0x100, data at 0x200 holding two addresses, a relocation table
// at 0x300 with the given (r_offset, r_info) entries.
Bytes elf32WithRelocations(uint16_t machine,
                           const std::vector<std::pair<uint32_t, uint32_t>> &entries)
{
    const uint32_t relSize = static_cast<uint32_t>(8 * entries.size());
    Bytes b = elf32(machine, {{1, 0x100, 0x10, 0}, {1, 0x200, 0x10, 0}, {9, 0x300, relSize, 8}});
    put32(&b, 0x200, 0x100);
    put32(&b, 0x204, 0x104);
    put32(&b, 0x208, 0x108);
    for (size_t i = 0; i < entries.size(); ++i) {
        put32(&b, 0x300 + 8 * i, entries[i].first);
        put32(&b, 0x300 + 8 * i + 4, entries[i].second);
    }
    return b;
}

Bytes fixture(const char *name)
{
    Bytes bytes;
    EXPECT_TRUE(readFile(std::string(OV3_TEST_DATA_DIR "/elf/") + name, &bytes))
        << "fixture missing: " << name << " (tests/data/elf/regenerate.sh)";
    return bytes;
}

// Header checks: each case changes a valid x86 file and names the message
// (nullptr: accepted).
struct HeaderCase
{
    const char *what;
    std::function<void(Bytes *)> change;
    const char *failure;
};

class ElfHeaderCheck : public ::testing::TestWithParam<HeaderCase>
{
};

TEST_P(ElfHeaderCheck, RejectsWithItsMessage)
{
    Bytes b = elf32(3, {{1, 0x100, 0x10, 0}});
    GetParam().change(&b);
    DisassemblerElf32X86 disassembler(b.data(), b.size());
    EXPECT_STREQ(disassembler.failure_reason(), "uninitialized");
    EXPECT_EQ(disassembler.CheckHeader(), GetParam().failure == nullptr);
    EXPECT_STREQ(disassembler.failure_reason(), GetParam().failure);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ElfHeaderCheck,
    ::testing::Values(
        HeaderCase{"valid", [](Bytes *) {}, nullptr},
        HeaderCase{"51 bytes", [](Bytes *b) { b->resize(51); }, "Too small"},
        HeaderCase{"magic", [](Bytes *b) { (*b)[3] = 'G'; }, "No Magic Number"},
        HeaderCase{"ET_REL", [](Bytes *b) { put16(b, 16, 1); },
                   "Not an executable file or shared library"},
        HeaderCase{"ET_EXEC", [](Bytes *b) { put16(b, 16, 2); }, nullptr},
        HeaderCase{"ARM machine", [](Bytes *b) { put16(b, 18, 40); },
                   "Not a supported architecture"},
        HeaderCase{"version 2", [](Bytes *b) { put32(b, 20, 2); }, "Unknown file version"},
        HeaderCase{"64-bit section headers", [](Bytes *b) { put16(b, 46, 64); },
                   "Unexpected section header size"},
        HeaderCase{"section table at the end", [](Bytes *b) { put32(b, 32, uint32_t(b->size())); },
                   "Out of bounds section header table offset"},
        HeaderCase{"section table past the end", [](Bytes *b) { put16(b, 48, 3); },
                   "Out of bounds section header table"},
        HeaderCase{"section count wraps no bound", [](Bytes *b) { put32(b, 32, 0xFFFFFFF0); },
                   "Out of bounds section header table offset"},
        HeaderCase{"program table at the end", [](Bytes *b) { put32(b, 28, uint32_t(b->size())); },
                   "Out of bounds program header table offset"},
        HeaderCase{"program table past the end", [](Bytes *b) { put16(b, 44, 60); },
                   "Out of bounds program header table"},
        HeaderCase{"no section names entry", [](Bytes *b) { put16(b, 50, 2); },
                   "Out of bounds section name string table index"},
        HeaderCase{"no sections at all", [](Bytes *b) { put16(b, 48, 0); },
                   "Out of bounds section name string table index"}),
    [](const ::testing::TestParamInfo<HeaderCase> &info) {
        std::string name = info.param.what;
        for (char &c : name)
            if (!isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST(ElfHeaderCheck, ClassesAreToldApartBySectionHeaderSize)
{
    Bytes elf64 = fixture("libattr-amd64.so");
    ASSERT_GT(elf64.size(), 64u);
    DisassemblerElf64X64 tooSmall(elf64.data(), 63);
    EXPECT_FALSE(tooSmall.CheckHeader());
    EXPECT_STREQ(tooSmall.failure_reason(), "Too small");

    put16(&elf64, 18, 3); // claim x86 so the ELF32 check reaches the size test
    DisassemblerElf32X86 asElf32(elf64.data(), elf64.size());
    EXPECT_FALSE(asElf32.CheckHeader());
    EXPECT_STREQ(asElf32.failure_reason(), "Unexpected section header size");
}

TEST(ElfDetection, LengthExcludesAppendedBytes)
{
    for (const char *name : {"libattr-amd64.so", "libattr-i386.so", "libattr-armhf.so"}) {
        Bytes b = fixture(name);
        const size_t original = b.size();
        b.resize(original + 100, 0xCC);
        ExecutableType kind = EXE_UNKNOWN;
        size_t length = 0;
        ASSERT_EQ(DetectExecutableKind(b.data(), b.size(), &kind, &length), PS_OK) << name;
        EXPECT_EQ(length, original) << name;
        const RoundTrip result = roundTrip(b);
        ASSERT_EQ(result.status, PS_OK) << name;
        EXPECT_EQ(result.assembled, Bytes(b.begin(), b.begin() + original)) << name;
    }
    ExecutableType kind = EXE_ELF_32_ARM;
    size_t length = 1;
    const Bytes text = toBytes(std::string("not an executable at all, just some text."));
    EXPECT_EQ(DetectExecutableKind(text.data(), text.size(), &kind, &length), PS_NOT_EXECUTABLE);
    EXPECT_EQ(kind, EXE_UNKNOWN);
    EXPECT_EQ(length, 0u);
    std::unique_ptr<DisassembledProgram> program;
    EXPECT_EQ(ParseExecutable(text.data(), 0, &program), PS_NOT_EXECUTABLE);
    EXPECT_FALSE(program);
}

TEST(ElfDetection, TriesEachMachine)
{
    const std::pair<uint16_t, ExecutableType> machines[] = {
        {3, EXE_ELF_32_X86}, {40, EXE_ELF_32_ARM}, {62, EXE_UNKNOWN}, {8, EXE_UNKNOWN}};
    for (const auto &[machine, expected] : machines) {
        const Bytes b = elf32(machine, {{1, 0x100, 0x10, 0}});
        ExecutableType kind = EXE_UNKNOWN;
        size_t length = 0;
        DetectExecutableKind(b.data(), b.size(), &kind, &length);
        EXPECT_EQ(kind, expected) << "e_machine " << machine;
    }
}

// Rel32 scans of 32-bit code: the bytes of one code section at 0x100 and the
// locations found there (offset in the section, relative target).
struct ScanCase
{
    const char *what;
    uint16_t machine;
    Bytes code;
    std::vector<std::pair<uint32_t, uint32_t>> found;
};

class Rel32Scan : public ::testing::TestWithParam<ScanCase>
{
};

TEST_P(Rel32Scan, FindsTheDocumentedFields)
{
    const ScanCase &c = GetParam();
    Bytes b = elf32(c.machine, {{1, 0x100, static_cast<uint32_t>(c.code.size()), 0}});
    std::copy(c.code.begin(), c.code.end(), b.begin() + 0x100);
    std::unique_ptr<DisassemblerElf> disassembler;
    if (c.machine == 3)
        disassembler = std::make_unique<DisassemblerElf32X86>(b.data(), b.size());
    else
        disassembler = std::make_unique<DisassemblerElf32ARM>(b.data(), b.size());
    ASSERT_TRUE(disassembler->CheckHeader());
    DisassembledProgram program(disassembler->kind());
    ASSERT_TRUE(disassembler->BuildProgram(&program));
    std::vector<std::pair<uint32_t, uint32_t>> found;
    for (const auto &location : disassembler->rel32_locations())
        found.emplace_back(location->rva() - 0x100, location->relative_target());
    EXPECT_EQ(found, c.found);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Rel32Scan,
    ::testing::Values(
        ScanCase{"x86 call", 3, {0xE8, 0, 0, 0, 0, 0x90}, {{1, 4}}},
        ScanCase{"x86 jmp backwards", 3, {0x90, 0xE9, 0xFB, 0xFF, 0xFF, 0xFF}, {{2, 0xFFFFFFFF}}},
        ScanCase{"x86 jp is not used", 3, {0x0F, 0x8A, 0, 0, 0, 0}, {}},
        ScanCase{"x86 jne", 3, {0x0F, 0x85, 0, 0, 0, 0}, {{2, 4}}},
        ScanCase{"x86 call too close to the end", 3, {0x90, 0xE8, 0, 0, 0}, {}},
        ScanCase{"x86 target outside every segment", 3, {0xE8, 0, 0, 0, 0x10}, {}},
        ScanCase{"ARM thumb beq", 40, {0xFE, 0xD0, 0, 0, 0, 0}, {{0, 0}}},
        ScanCase{"ARM word after an even count of halfwords",
                 40,
                 {0, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xEB, 0, 0},
                 {{4, 0}}},
        ScanCase{"ARM word after an odd count of halfwords",
                 40,
                 {0, 0, 0xFE, 0xFF, 0xFF, 0xEB, 0, 0, 0, 0},
                 {}},
        ScanCase{"ARM thumb-2 bl", 40, {0xFF, 0xF7, 0xFE, 0xFF, 0, 0}, {{0, 0}}},
        ScanCase{"ARM thumb-2 beq.w", 40, {0x3F, 0xF4, 0xFE, 0xAF, 0, 0}, {{0, 0}}}),
    [](const ::testing::TestParamInfo<ScanCase> &info) {
        std::string name = info.param.what;
        for (char &c : name)
            if (!isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST(Rel32Scan, ArmLocationsCarryTheirBranch)
{
    Bytes b = elf32(40, {{1, 0x100, 6, 0}});
    const uint8_t code[] = {0xFE, 0xD0, 0, 0, 0, 0};
    std::copy(code, code + sizeof(code), b.begin() + 0x100);
    DisassemblerElf32ARM disassembler(b.data(), b.size());
    ASSERT_TRUE(disassembler.CheckHeader());
    DisassembledProgram program(EXE_ELF_32_ARM);
    ASSERT_TRUE(disassembler.BuildProgram(&program));
    ASSERT_EQ(disassembler.rel32_locations().size(), 1u);
    const auto &arm =
        dynamic_cast<const DisassemblerElf32ARM::TypedRVAARM &>(*disassembler.rel32_locations()[0]);
    EXPECT_EQ(arm.type(), ARM_B8);
    EXPECT_EQ(arm.compressed_op(), 0x10D0);
    EXPECT_EQ(arm.OpSize(), 2);
}

// x86-64: a code section is patched into the real x86-64 fixture, whose
// segments make the targets valid.
TEST(X64Rel32Scan, FindsRipRelativeOperands)
{
    struct Case
    {
        Bytes code;
        int field; // offset of the field found, -1 for none
    };
    const Case cases[] = {
        {{0x48, 0x8D, 0x05, 0, 0, 0, 0}, 3},  // lea rax, [rip+0]
        {{0x49, 0x8B, 0x0D, 0, 0, 0, 0}, 3},  // mov rcx, [rip+0] with REX.B
        {{0x48, 0x8D, 0x04, 0, 0, 0, 0}, -1}, // lea rax, [rax+...]: no field
        {{0x4C, 0x8D, 0x05, 0, 0, 0, 0}, -1}, // REX.R is not matched
        {{0xFF, 0x25, 0, 0, 0, 0, 0x90}, 2},  // jmp [rip+0]
        {{0x0F, 0x8B, 0, 0, 0, 0, 0x90}, -1}, // jnp
        {{0xE8, 0, 0, 0, 0, 0x90, 0x90}, 1},  // call
    };
    const Bytes original = fixture("libattr-amd64.so");
    ASSERT_FALSE(original.empty());
    for (const Case &c : cases) {
        // The first executable PROGBITS section of the fixture is .init.
        DisassemblerElf64X64 probe(original.data(), original.size());
        ASSERT_TRUE(probe.CheckHeader());
        Bytes b = original;
        const uint64_t shoff = b[40] | b[41] << 8 | b[42] << 16 | b[43] << 24;
        const uint16_t shnum = b[60] | b[61] << 8;
        uint64_t codeOffset = 0, codeAddr = 0, codeSize = 0;
        for (uint16_t i = 0; i < shnum && codeSize == 0; ++i) {
            const uint8_t *s = b.data() + shoff + 64 * i;
            uint64_t flags = 0;
            std::memcpy(&flags, s + 8, 8);
            if (s[4] == 1 && (flags & 4)) {
                std::memcpy(&codeAddr, s + 16, 8);
                std::memcpy(&codeOffset, s + 24, 8);
                std::memcpy(&codeSize, s + 32, 8);
            }
        }
        ASSERT_GE(codeSize, c.code.size() + 1);
        std::fill(b.begin() + codeOffset, b.begin() + codeOffset + codeSize, 0x90);
        std::copy(c.code.begin(), c.code.end(), b.begin() + codeOffset);
        DisassemblerElf64X64 disassembler(b.data(), b.size());
        ASSERT_TRUE(disassembler.CheckHeader());
        DisassembledProgram program(EXE_ELF_64_X64);
        ASSERT_TRUE(disassembler.BuildProgram(&program));
        bool found = false;
        for (const auto &location : disassembler.rel32_locations()) {
            if (location->rva() >= codeAddr && location->rva() < codeAddr + codeSize) {
                EXPECT_EQ(location->rva(), codeAddr + c.field);
                EXPECT_EQ(location->relative_target(), 4u);
                found = true;
            }
        }
        EXPECT_EQ(found, c.field >= 0)
            << "code starting " << int(c.code[0]) << " " << int(c.code[1]) << " " << int(c.code[2]);
    }
}

size_t countKind(const DisassembledProgram &program, InstructionKind kind)
{
    return std::count_if(program.instructions().begin(), program.instructions().end(),
                         [kind](const Instruction *i) { return i->kind() == kind; });
}

// Relocation sections: which entries become one make-relocations
// instruction, and which bytes the assembled program keeps.
struct RelocCase
{
    const char *what;
    uint16_t machine;
    std::vector<std::pair<uint32_t, uint32_t>> entries;
    size_t abs32;
    size_t makeRelocs;
    size_t lostBytes; // bytes from 0x300 on that the program drops
};

class RelocationSection : public ::testing::TestWithParam<RelocCase>
{
};

TEST_P(RelocationSection, RebuildsOrKeepsTheTable)
{
    const RelocCase &c = GetParam();
    const Bytes b = elf32WithRelocations(c.machine, c.entries);
    std::unique_ptr<DisassembledProgram> program;
    ASSERT_EQ(ParseExecutable(b.data(), b.size(), &program), PS_OK);
    EXPECT_EQ(countKind(*program, INSN_MAKE_ELF_RELOCS) +
                  countKind(*program, INSN_MAKE_ELF_ARM_RELOCS),
              c.makeRelocs);
    EXPECT_EQ(countKind(*program, INSN_ABS32), c.abs32);

    const RoundTrip result = roundTrip(b);
    ASSERT_EQ(result.status, PS_OK) << result.step;
    Bytes expected = b;
    expected.erase(expected.begin() + 0x300, expected.begin() + 0x300 + c.lostBytes);
    EXPECT_EQ(result.assembled, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RelocationSection,
    ::testing::Values(
        RelocCase{
            "x86 all relative entries first", 3, {{0x200, 8}, {0x204, 8}, {0x208, 6}}, 2, 1, 0},
        RelocCase{
            "x86 first entry of another type", 3, {{0x208, 7}, {0x200, 8}, {0x204, 8}}, 2, 0, 0},
        RelocCase{"x86 entries out of address order", 3, {{0x204, 8}, {0x200, 8}}, 2, 0, 0},
        RelocCase{
            "ARM all relative entries first", 40, {{0x200, 23}, {0x204, 23}, {0x208, 21}}, 2, 1, 0},
        RelocCase{"ARM leading entries stay bytes",
                  40,
                  {{0x208, 21}, {0x20C, 21}, {0x200, 23}, {0x204, 23}},
                  2,
                  1,
                  0},
        // The matched first entry and the mismatching second one are not
        // part of the program: their 16 bytes are lost.
        RelocCase{
            "ARM second entry mismatches", 40, {{0x200, 23}, {0x208, 21}, {0x204, 23}}, 2, 0, 16},
        RelocCase{
            "ARM relative entries of another machine", 40, {{0x200, 8}, {0x204, 8}}, 0, 0, 0}),
    [](const ::testing::TestParamInfo<RelocCase> &info) {
        std::string name = info.param.what;
        for (char &c : name)
            if (!isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST(ElfBuild, FailsOnSectionsOutsideTheFile)
{
    // A code section that claims bytes past the end of the input.
    Bytes b = elf32(3, {{1, 0x100, 0x10, 0}});
    put32(&b, kSectionTable + 40 + 20, 0x10000);
    std::unique_ptr<DisassembledProgram> program;
    EXPECT_EQ(ParseExecutable(b.data(), b.size(), &program), PS_DISASSEMBLY_FAILED);
    EXPECT_FALSE(program);

    // A relocation table whose entry size makes entries run past the file.
    Bytes rel = elf32WithRelocations(3, {{0x200, 8}});
    put32(&rel, kSectionTable + 3 * 40 + 16, 0x1F0); // sh_offset near the table end
    put32(&rel, kSectionTable + 3 * 40 + 20, 0x200); // sh_size
    put32(&rel, kSectionTable + 3 * 40 + 36, 1);     // sh_entsize 1: 512 entries
    EXPECT_EQ(ParseExecutable(rel.data(), rel.size(), &program), PS_DISASSEMBLY_FAILED);
}

TEST(ElfBuild, AddressesInArraySectionsAreNotRebuilt)
{
    // An init array overlapping the data section takes its addresses out.
    Bytes b = elf32(3, {{14, 0x200, 8, 0}, {1, 0x200, 0x10, 0}, {9, 0x300, 16, 8}});
    put32(&b, 0x200, 0x100);
    put32(&b, 0x204, 0x104);
    put32(&b, 0x300, 0x200);
    put32(&b, 0x304, 8);
    put32(&b, 0x308, 0x204);
    put32(&b, 0x30C, 8);
    LogCapture log;
    std::unique_ptr<DisassembledProgram> program;
    ASSERT_EQ(ParseExecutable(b.data(), b.size(), &program), PS_OK);
    EXPECT_EQ(countKind(*program, INSN_ABS32), 0u);
    EXPECT_TRUE(log.contains("Skipping relocation entry for unsupported section: 14"));
    // The relocation table still matches every collected address, so it is
    // rebuilt, but only from the addresses that were emitted: none. Its
    // 16 bytes are missing from the assembled program, and patches are made
    // against exactly that.
    EXPECT_EQ(countKind(*program, INSN_MAKE_ELF_RELOCS), 1u);
    const RoundTrip result = roundTrip(b);
    ASSERT_EQ(result.status, PS_OK);
    Bytes expected = b;
    expected.erase(expected.begin() + 0x300, expected.begin() + 0x310);
    EXPECT_EQ(result.assembled, expected);
}

TEST(ElfBuild, RequiresAPassedHeaderCheck)
{
    Bytes b = elf32(3, {{1, 0x100, 0x10, 0}});
    DisassemblerElf32X86 unchecked(b.data(), b.size());
    DisassembledProgram program(EXE_ELF_32_X86);
    EXPECT_FALSE(unchecked.BuildProgram(&program));
    put16(&b, 16, 1);
    DisassemblerElf32X86 rejected(b.data(), b.size());
    EXPECT_FALSE(rejected.CheckHeader());
    EXPECT_FALSE(rejected.BuildProgram(&program));
    EXPECT_TRUE(program.instructions().empty());
}

// Damaged real files: every truncation is rejected (the section table is at
// the end of these files) and random damage to the headers never makes the
// engine read outside the input (the sanitized build checks that) nor
// produce a program that cannot be assembled.
class DamagedElf : public ::testing::TestWithParam<const char *>
{
};

TEST_P(DamagedElf, FailsCleanly)
{
    const Bytes original = fixture(GetParam());
    ASSERT_FALSE(original.empty());
    for (size_t cut = 0; cut < original.size(); cut += 37) {
        const Bytes truncated(original.begin(), original.begin() + cut);
        std::unique_ptr<DisassembledProgram> program;
        EXPECT_EQ(ParseExecutable(truncated.data(), truncated.size(), &program), PS_NOT_EXECUTABLE)
            << "cut at " << cut;
    }

    ExecutableType kind = EXE_UNKNOWN;
    size_t length = 0;
    ASSERT_EQ(DetectExecutableKind(original.data(), original.size(), &kind, &length), PS_OK);
    const bool is64 = kind == EXE_ELF_64_X64;
    const uint64_t shoff = is64 ? original[40] | original[41] << 8 | original[42] << 16
                                : original[32] | original[33] << 8 | original[34] << 16;
    const uint64_t phoff =
        is64 ? original[32] | original[33] << 8 : original[28] | original[29] << 8;
    const size_t headerSize = is64 ? 64 : 52;
    const size_t phSize = (is64 ? 56 : 32) * (original[is64 ? 56 : 44]);
    uint32_t state = 0x9E3779B9;
    auto next = [&state]() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    int parsed = 0;
    for (int round = 0; round < 400; ++round) {
        Bytes damaged = original;
        const int changes = 1 + next() % 4;
        for (int i = 0; i < changes; ++i) {
            size_t at;
            switch (next() % 3) {
            case 0:
                at = next() % headerSize;
                break;
            case 1:
                at = phoff + next() % phSize;
                break;
            default:
                at = shoff + next() % (original.size() - shoff);
                break;
            }
            damaged[at] = static_cast<uint8_t>(next() % 4 == 0 ? 0xFF : next());
        }
        const RoundTrip result = roundTrip(damaged);
        if (result.status == PS_NOT_EXECUTABLE || result.status == PS_DISASSEMBLY_FAILED)
            continue;
        ++parsed;
        EXPECT_EQ(result.status, PS_OK) << "round " << round << " failed at " << result.step;
    }
    EXPECT_GT(parsed, 0);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DamagedElf,
                         ::testing::Values("libattr-amd64.so", "libattr-i386.so",
                                           "libattr-armhf.so"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             std::string name = info.param;
                             for (char &c : name)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

} // namespace
