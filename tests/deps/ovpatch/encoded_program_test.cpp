#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "arm_branch.h"
#include "bytes.h"
#include "disassembled_program.h"
#include "encoded_program.h"
#include "logcapture.h"
#include "streams.h"

using namespace ovpatch;

namespace {

template <typename T> std::vector<T> toVector(const NoThrowVector<T> &v)
{
    return std::vector<T>(v.begin(), v.end());
}

std::unique_ptr<EncodedProgram> encode(DisassembledProgram &program)
{
    std::unique_ptr<EncodedProgram> encoded = program.EncodeProgram();
    EXPECT_TRUE(encoded);
    return encoded;
}

Bytes assemble(EncodedProgram &encoded)
{
    ByteWriter out;
    EXPECT_EQ(Assemble(&encoded, &out), PS_OK);
    return toBytes(out);
}

// Runs one program through save, image, parse and load.
std::unique_ptr<EncodedProgram> saveAndLoad(const EncodedProgram &encoded, ByteWriter *image)
{
    WriterGroup streams;
    EXPECT_EQ(WriteEncodedProgram(encoded, &streams), PS_OK);
    EXPECT_TRUE(streams.WriteImage(image));
    ReaderGroup group;
    EXPECT_TRUE(group.Parse(image->data(), image->length()));
    std::unique_ptr<EncodedProgram> loaded;
    EXPECT_EQ(ReadEncodedProgram(&group, &loaded), PS_OK);
    return loaded;
}

// Copy merging: each case is a sequence of emits, written as a string where
// 'b' is EmitByte, a digit n is EmitBytes of n bytes and 'o' is EmitOrigin.
struct CopyCase
{
    const char *emits;
    std::vector<uint32_t> ops;
    std::vector<uint32_t> copyCounts;
    size_t copyBytes;
};

class CopyMerging : public ::testing::TestWithParam<CopyCase>
{
};

TEST_P(CopyMerging, PoolsBytesIntoAsFewOpsAsPossible)
{
    static const uint8_t kData[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    DisassembledProgram program(EXE_ELF_32_X86);
    for (const char *c = GetParam().emits; *c; ++c) {
        if (*c == 'b')
            ASSERT_TRUE(program.EmitByte(0xAB));
        else if (*c == 'o')
            ASSERT_TRUE(program.EmitOrigin(0x1000));
        else
            ASSERT_TRUE(program.EmitBytes(kData, static_cast<size_t>(*c - '0')));
    }
    auto encoded = encode(program);
    EXPECT_EQ(toVector(encoded->ops()), GetParam().ops);
    EXPECT_EQ(toVector(encoded->copy_counts()), GetParam().copyCounts);
    EXPECT_EQ(encoded->copy_bytes().size(), GetParam().copyBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CopyMerging,
    ::testing::Values(CopyCase{"bb3", {OP_COPY_RUN}, {5}, 5}, CopyCase{"b", {OP_COPY_ONE}, {}, 1},
                      CopyCase{"1", {OP_COPY_ONE}, {}, 1}, CopyCase{"3b", {OP_COPY_RUN}, {4}, 4},
                      CopyCase{"bob", {OP_COPY_ONE, OP_ORIGIN, OP_COPY_ONE}, {}, 2},
                      CopyCase{"2o2b", {OP_COPY_RUN, OP_ORIGIN, OP_COPY_RUN}, {2, 3}, 5}));

TEST(DisassembledProgram, LabelsAreNumberedByRvaAbs32First)
{
    DisassembledProgram program(EXE_ELF_32_X86);
    Label *a = program.FindOrMakeAbs32Label(0x3000);
    Label *b = program.FindOrMakeAbs32Label(0x1000);
    Label *c = program.FindOrMakeAbs32Label(0x2000);
    Label *r = program.FindOrMakeRel32Label(0x500);
    EXPECT_EQ(program.FindOrMakeAbs32Label(0x3000), a);
    EXPECT_EQ(a->count, 2);
    EXPECT_EQ(a->index, -1);

    LogCapture log;
    r->index = 7; // an index given before numbering is reported and replaced
    ASSERT_TRUE(program.AssignLabelIndexes());
    EXPECT_EQ(a->index, 2);
    EXPECT_EQ(b->index, 0);
    EXPECT_EQ(c->index, 1);
    EXPECT_EQ(r->index, 0);
    EXPECT_TRUE(log.contains("REACHED UNREACHABLE"));
}

TEST(DisassembledProgram, EmitWithoutLabelFails)
{
    DisassembledProgram program(EXE_ELF_32_ARM);
    LogCapture log;
    EXPECT_FALSE(program.EmitRel32(nullptr));
    EXPECT_FALSE(program.EmitAbs32(nullptr));
    EXPECT_FALSE(program.EmitRel32Arm(0x10D0, nullptr, nullptr, 2));
    EXPECT_TRUE(program.instructions().empty());
    EXPECT_TRUE(log.contains("REACHED UNREACHABLE"));
}

TEST(EncodedProgram, SavesEveryTableInItsStream)
{
    static const uint8_t kCode[3] = {0x90, 0x91, 0x92};
    DisassembledProgram program(EXE_ELF_32_X86);
    program.set_image_base(0x1'0000'0400); // only the low 32 bits travel
    ASSERT_TRUE(program.EmitOrigin(0x1000));
    ASSERT_TRUE(program.EmitBytes(kCode, 3));
    ASSERT_TRUE(program.EmitRel32(program.FindOrMakeRel32Label(0x1800)));
    ASSERT_TRUE(program.EmitAbs32(program.FindOrMakeAbs32Label(0x2000)));
    ASSERT_TRUE(program.EmitRel32(program.FindOrMakeRel32Label(0x1000)));
    ASSERT_TRUE(program.AssignLabelIndexes());
    // Leave index 1 unused: rel32_rvas becomes [0x1000, unset, 0x1800].
    program.rel32_labels().at(0x1800).index = 2;
    auto encoded = encode(program);

    WriterGroup streams;
    ASSERT_EQ(WriteEncodedProgram(*encoded, &streams), PS_OK);
    const std::vector<Bytes> expected = {
        {0x80, 0x08, 0x01, 0x80, 0x20},       // image base 0x400, origins [0x1000]
        {0x05, 0x00, 0x01, 0x03, 0x04, 0x03}, // ops
        {0x03, 0x90, 0x91, 0x92},             // copy bytes
        {0x01, 0x00},                         // abs32_ix
        {0x02, 0x02, 0x00},                   // rel32_ix
        {0x01, 0x80, 0x40},                   // abs32_rvas [0x2000]
        {0x03, 0x80, 0x20, 0x00, 0x80, 0x10}, // rel32_rvas deltas
        {0x01, 0x03},                         // copy_counts
        {},
        {},
    };
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(toBytes(*streams.stream(i)), expected[i]) << "stream " << i;

    ByteWriter image;
    auto loaded = saveAndLoad(*encoded, &image);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->image_base(), 0x400u);
    EXPECT_EQ(toVector(loaded->rel32_rvas()), (std::vector<uint32_t>{0x1000, 0x1000, 0x1800}));
    EXPECT_EQ(toVector(loaded->ops()), toVector(encoded->ops()));
    EXPECT_EQ(toVector(loaded->copy_bytes()), toVector(encoded->copy_bytes()));

    // 90 91 92, rel32 at 0x1003 to 0x1800, abs32 0x2000 + base, rel32 at
    // 0x100B to 0x1000.
    EXPECT_EQ(assemble(*loaded), (Bytes{0x90, 0x91, 0x92, 0xF9, 0x07, 0x00, 0x00, 0x00, 0x24, 0x00,
                                        0x00, 0xF1, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(toVector(loaded->abs32_relocs()), std::vector<uint32_t>{0x1007});
}

TEST(EncodedProgram, Rel32ToItselfAssemblesToMinusFour)
{
    DisassembledProgram program(EXE_ELF_32_X86);
    ASSERT_TRUE(program.EmitOrigin(0x1000));
    ASSERT_TRUE(program.EmitRel32(program.FindOrMakeRel32Label(0x1000)));
    ASSERT_TRUE(program.AssignLabelIndexes());
    auto encoded = encode(program);
    EXPECT_EQ(assemble(*encoded), (Bytes{0xFC, 0xFF, 0xFF, 0xFF}));
}

TEST(EncodedProgram, LoadChecksStreamsUpToEight)
{
    DisassembledProgram program(EXE_ELF_32_X86);
    ASSERT_TRUE(program.EmitByte(1));
    auto encoded = encode(program);
    for (size_t stray : {size_t(8), size_t(9)}) {
        WriterGroup streams;
        ASSERT_EQ(WriteEncodedProgram(*encoded, &streams), PS_OK);
        ASSERT_TRUE(streams.stream(stray)->WriteByte(0));
        ByteWriter image;
        ASSERT_TRUE(streams.WriteImage(&image));
        ReaderGroup group;
        ASSERT_TRUE(group.Parse(image.data(), image.length()));
        std::unique_ptr<EncodedProgram> loaded;
        EXPECT_EQ(ReadEncodedProgram(&group, &loaded), stray == 8 ? PS_BAD_ENCODED_PROGRAM : PS_OK)
            << "stray byte in stream " << stray;
    }
}

TEST(EncodedProgram, LoadRejectsEveryTruncatedStream)
{
    DisassembledProgram program(EXE_ELF_32_X86);
    static const uint8_t kCode[2] = {1, 2};
    ASSERT_TRUE(program.EmitOrigin(0x10));
    ASSERT_TRUE(program.EmitBytes(kCode, 2));
    ASSERT_TRUE(program.EmitRel32(program.FindOrMakeRel32Label(0x10)));
    ASSERT_TRUE(program.EmitAbs32(program.FindOrMakeAbs32Label(0x20)));
    ASSERT_TRUE(program.AssignLabelIndexes());
    auto encoded = encode(program);
    for (size_t cut = 0; cut < 8; ++cut) {
        WriterGroup streams;
        ASSERT_EQ(WriteEncodedProgram(*encoded, &streams), PS_OK);
        ASSERT_GT(streams.stream(cut)->length(), 0u);
        streams.stream(cut)->Truncate(streams.stream(cut)->length() - 1);
        ByteWriter image;
        ASSERT_TRUE(streams.WriteImage(&image));
        ReaderGroup group;
        ASSERT_TRUE(group.Parse(image.data(), image.length()));
        std::unique_ptr<EncodedProgram> loaded;
        EXPECT_EQ(ReadEncodedProgram(&group, &loaded), PS_BAD_ENCODED_PROGRAM)
            << "stream " << cut << " cut short";
        EXPECT_FALSE(loaded);
    }
}

// Abs32 fields at RVAs 0x30, 0x10, 0x20 behind one make-relocations op.
Bytes relocationTable(ExecutableType kind, InstructionKind relocs, uint64_t imageBase,
                      const std::vector<uint32_t> &rvas)
{
    DisassembledProgram program(kind);
    program.set_image_base(imageBase);
    EXPECT_TRUE(program.EmitMakeRelocs(relocs));
    for (uint32_t rva : rvas) {
        EXPECT_TRUE(program.EmitOrigin(rva));
        EXPECT_TRUE(program.EmitAbs32(program.FindOrMakeAbs32Label(0x4000)));
    }
    EXPECT_TRUE(program.AssignLabelIndexes());
    auto encoded = encode(program);
    return assemble(*encoded);
}

TEST(EncodedProgram, ElfRelocationsSortAllButTheLast)
{
    const Bytes out =
        relocationTable(EXE_ELF_32_ARM, INSN_MAKE_ELF_ARM_RELOCS, 0, {0x30, 0x10, 0x20});
    const Bytes table = {0x10, 0, 0, 0, 23,   0, 0, 0, 0x30, 0, 0, 0,
                         23,   0, 0, 0, 0x20, 0, 0, 0, 23,   0, 0, 0};
    const Bytes fields = {0, 0x40, 0, 0, 0, 0x40, 0, 0, 0, 0x40, 0, 0};
    Bytes expected = table;
    expected.insert(expected.end(), fields.begin(), fields.end());
    EXPECT_EQ(out, expected);

    const Bytes x86 = relocationTable(EXE_ELF_32_X86, INSN_MAKE_ELF_RELOCS, 0, {0x20, 0x10});
    EXPECT_EQ(Bytes(x86.begin(), x86.begin() + 16),
              (Bytes{0x20, 0, 0, 0, 8, 0, 0, 0, 0x10, 0, 0, 0, 8, 0, 0, 0}));
}

TEST(EncodedProgram, PeRelocationsFormPageBlocks)
{
    const Bytes out =
        relocationTable(EXE_WIN_32_X86, INSN_MAKE_PE_RELOCS, 0x400000, {0x1004, 0x2008});
    const Bytes expected = {0x00, 0x10, 0,    0,    0x0C, 0,    0,    0,    0x04, 0x30, 0,
                            0,    0x00, 0x20, 0,    0,    0x0C, 0,    0,    0,    0x08, 0x30,
                            0,    0,    0x00, 0x40, 0x40, 0,    0x00, 0x40, 0x40, 0};
    EXPECT_EQ(out, expected);

    // Two entries on one page need no padding; 64-bit images use type 10.
    const Bytes pe64 = relocationTable(EXE_WIN_32_X64, INSN_MAKE_PE_RELOCS, 0, {0x1004, 0x1008});
    EXPECT_EQ(Bytes(pe64.begin(), pe64.begin() + 12),
              (Bytes{0x00, 0x10, 0, 0, 0x0C, 0, 0, 0, 0x04, 0xA0, 0x08, 0xA0}));

    EXPECT_EQ(relocationTable(EXE_WIN_32_X86, INSN_MAKE_PE_RELOCS, 0, {}), Bytes{});
}

// Builds an encoded program straight from its tables.
struct AssembleFailure
{
    const char *what;
    void (*build)(EncodedProgram *);
};

class AssembleRejects : public ::testing::TestWithParam<AssembleFailure>
{
};

TEST_P(AssembleRejects, MalformedTables)
{
    EncodedProgram encoded;
    ASSERT_TRUE(encoded.DefineRel32Label(0, 0x100));
    ASSERT_TRUE(encoded.DefineAbs32Label(0, 0x200));
    GetParam().build(&encoded);
    ByteWriter out;
    EXPECT_EQ(Assemble(&encoded, &out), PS_ASSEMBLY_FAILED) << GetParam().what;
}

const uint8_t kByte[2] = {7, 8};

INSTANTIATE_TEST_SUITE_P(
    Table, AssembleRejects,
    ::testing::Values(
        AssembleFailure{"rel32 index out of range", [](EncodedProgram *e) { e->AddRel32(1); }},
        AssembleFailure{"abs32 index out of range", [](EncodedProgram *e) { e->AddAbs32(1); }},
        AssembleFailure{"unknown op", [](EncodedProgram *e) { e->AddOp(9); }},
        AssembleFailure{"op outside the ARM range", [](EncodedProgram *e) { e->AddOp(0x6000); }},
        AssembleFailure{"ARM branch without index", [](EncodedProgram *e) { e->AddOp(0x30EB); }},
        AssembleFailure{"two PE tables",
                        [](EncodedProgram *e) {
                            e->AddOp(OP_MAKE_PE_RELOCS);
                            e->AddOp(OP_MAKE_PE64_RELOCS);
                        }},
        AssembleFailure{"two ELF tables",
                        [](EncodedProgram *e) {
                            e->AddOp(OP_MAKE_ELF_RELOCS);
                            e->AddOp(OP_MAKE_ELF_ARM_RELOCS);
                        }},
        AssembleFailure{"copy count past the pooled bytes",
                        [](EncodedProgram *e) {
                            e->AddCopy(kByte, 2);
                            e->AddOp(OP_COPY_ONE);
                        }},
        AssembleFailure{"pooled bytes left over", [](EncodedProgram *e) {
                            e->AddCopy(kByte, 1);
                            e->AddCopy(kByte, 1);
                            e->AddOp(OP_MAKE_ELF_RELOCS);
                            e->AddRel32(0);
                            e->AddCopy(kByte, 2);
                            e->AddOp(OP_ORIGIN); // no origin left
                        }}));

TEST(EncodedProgram, AssembleNeedsEveryIndexConsumed)
{
    DisassembledProgram program(EXE_ELF_32_X86);
    ASSERT_TRUE(program.EmitRel32(program.FindOrMakeRel32Label(0)));
    ASSERT_TRUE(program.AssignLabelIndexes());
    auto encoded = encode(program);
    ASSERT_TRUE(encoded->AddAbs32(0)); // index table entry with an op ...
    EncodedProgram unconsumed;
    ASSERT_TRUE(unconsumed.DefineRel32Label(0, 0));
    ASSERT_TRUE(unconsumed.AddRel32(0));
    ByteWriter out;
    EXPECT_EQ(Assemble(encoded.get(), &out), PS_ASSEMBLY_FAILED); // ... but no abs32 label
    EXPECT_EQ(Assemble(&unconsumed, &out), PS_OK);
}

TEST(DisassembledProgram, TrimLabelsTurnsRareArmTargetsIntoBytes)
{
    static const uint8_t kBranch[2] = {0xFE, 0xD0};
    DisassembledProgram program(EXE_ELF_32_ARM);
    ASSERT_TRUE(program.EmitOrigin(0x100));
    // Target 0x100 is referenced six times and stays; 0x200 five times.
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(program.EmitRel32Arm(0x10D0, program.FindOrMakeRel32Label(0x100), kBranch, 2));
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(program.EmitRel32Arm(0x10D0, program.FindOrMakeRel32Label(0x200), kBranch, 2));
    ASSERT_TRUE(program.FindOrMakeRel32Label(0x050)); // index 0, count 1
    ASSERT_TRUE(program.AssignLabelIndexes());

    LogCapture log;
    ASSERT_EQ(TrimLabels(&program), PS_OK);
    EXPECT_TRUE(log.contains("TrimLabels: threshold 5"));
    ASSERT_EQ(program.rel32_labels().size(), 1u);
    EXPECT_EQ(program.rel32_labels().at(0x100).index, 1); // not renumbered

    auto encoded = encode(program);
    EXPECT_EQ(toVector(encoded->rel32_rvas()), (std::vector<uint32_t>{0, 0x100}));
    EXPECT_EQ(encoded->rel32_ix().size(), 6u);
    EXPECT_EQ(toVector(encoded->copy_counts()), std::vector<uint32_t>{10});
    EXPECT_EQ(encoded->copy_bytes().size(), 10u);
}

TEST(DisassembledProgram, TrimLabelsLeavesOtherKindsAndRejectsEmptyBranches)
{
    static const uint8_t kBranch[2] = {0xFE, 0xD0};
    DisassembledProgram x86(EXE_ELF_32_X86);
    ASSERT_TRUE(x86.EmitRel32(x86.FindOrMakeRel32Label(0x100)));
    ASSERT_EQ(TrimLabels(&x86), PS_OK);
    EXPECT_EQ(x86.rel32_labels().size(), 1u);

    DisassembledProgram arm(EXE_ELF_32_ARM);
    ASSERT_TRUE(arm.EmitRel32Arm(0x10D0, arm.FindOrMakeRel32Label(0x100), kBranch, 0));
    EXPECT_EQ(TrimLabels(&arm), PS_TRIM_FAILED);
}

TEST(EncodedProgram, SummaryListsTableSizes)
{
    DisassembledProgram program(EXE_ELF_32_X86);
    program.set_image_base(0x400000);
    ASSERT_TRUE(program.EmitByte(1));
    ASSERT_TRUE(program.EmitByte(2));
    auto encoded = encode(program);
    LogCapture log;
    encoded->LogSummary();
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0], "EncodedProgram Summary\n  image base  4194304\n  abs32 rvas  0\n"
                               "  rel32 rvas  0\n  ops         1\n  origins     0\n"
                               "  copy_counts 1\n  copy_bytes  2\n  abs32_ix    0\n"
                               "  rel32_ix    0");
    EXPECT_EQ(log.levels[0], orvlog::LogLevel_DEBUG);
}

// ARM branch coding: decoding gives the documented op and target, and
// encoding gives back the instruction.
struct ArmCase
{
    ArmBranchType type;
    uint32_t instruction;
    uint32_t sourceRva;
    uint16_t op;
    uint32_t relative;
};

class ArmBranchCoding : public ::testing::TestWithParam<ArmCase>
{
};

TEST_P(ArmBranchCoding, DecodesAndEncodesBack)
{
    const ArmCase &c = GetParam();
    uint16_t op = 0;
    uint32_t relative = 0;
    ASSERT_TRUE(DecodeArmBranch(c.type, c.instruction, c.sourceRva, &op, &relative));
    EXPECT_EQ(op, c.op);
    EXPECT_EQ(relative, c.relative);
    uint32_t instruction = 0;
    ASSERT_TRUE(EncodeArmBranch(c.type, op, relative, &instruction));
    EXPECT_EQ(instruction, c.instruction);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ArmBranchCoding,
    ::testing::Values(ArmCase{ARM_B8, 0xD0FE, 0x100, 0x10D0, 0},                // beq to itself
                      ArmCase{ARM_B8, 0xD17F, 0x100, 0x10D1, 0x102},            // bne forward
                      ArmCase{ARM_B11, 0xE7FE, 0x100, 0x201C, 0},               // b to itself
                      ArmCase{ARM_B11, 0xE400, 0x100, 0x201C, 0xFFFFF804},      // b backwards
                      ArmCase{ARM_B24, 0xEBFFFFFE, 0x1234, 0x30EB, 0},          // bl to itself
                      ArmCase{ARM_B24, 0x0A000010, 0, 0x300A, 0x48},            // beq forward
                      ArmCase{ARM_BL25, 0xF7FFFFFE, 0x100, 0x44F7, 0},          // bl to itself
                      ArmCase{ARM_BL25, 0xF7FFEFFE, 0x102, 0x42F6, 0xFFFFFFFE}, // blx, odd halfword
                      ArmCase{ARM_BL25, 0xF7FFEFFE, 0x104, 0x44F6, 0},          // blx, word aligned
                      ArmCase{ARM_BL25, 0xF000F800, 0, 0x44F7, 4}, // J1 = J2 = S: I1 = I2 = 0
                      ArmCase{ARM_BL25, 0xF000D000, 0, 0x44F7, 0xC00004},    // I1 = I2 = 1
                      ArmCase{ARM_B21, 0xF43FAFFE, 0x100, 0x5000, 0},        // beq.w to itself
                      ArmCase{ARM_B21, 0xF0008800, 0, 0x5000, 0x40004},      // J2 lands on bit 18
                      ArmCase{ARM_B21, 0xF000A000, 0, 0x5000, 0x80004},      // J1 lands on bit 19
                      ArmCase{ARM_B21, 0xF6808000, 0, 0x500A, 0xFFF00004})); // bge, S set

TEST(ArmBranchCoding, EveryInstructionOfEachTypeSurvives)
{
    struct Form
    {
        ArmBranchType type;
        uint32_t mask, pattern; // instructions of the form: (x & mask) == pattern
    };
    const Form forms[] = {
        {ARM_B8, 0xFFFFF000, 0xD000},      {ARM_B11, 0xFFFFF800, 0xE000},
        {ARM_B24, 0x0E000000, 0x0A000000}, {ARM_BL25, 0xF8008000, 0xF0008000},
        {ARM_B21, 0xF800D000, 0xF0008000},
    };
    uint32_t state = 12345;
    for (const Form &form : forms) {
        for (int i = 0; i < 2000; ++i) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const uint32_t instruction = (state & ~form.mask) | form.pattern;
            const uint32_t source = (state >> 7) & 0xFFFFE; // halfword aligned
            uint16_t op = 0;
            uint32_t relative = 0, back = 0;
            ASSERT_TRUE(DecodeArmBranch(form.type, instruction, source, &op, &relative));
            ASSERT_TRUE(EncodeArmBranch(form.type, op, relative, &back));
            ASSERT_EQ(back, instruction) << "type " << int(form.type) << " at " << source;
        }
    }
    uint16_t op;
    uint32_t value;
    EXPECT_FALSE(DecodeArmBranch(5, 0, 0, &op, &value));
    EXPECT_FALSE(EncodeArmBranch(5, 0, 0, &value));
    EXPECT_EQ(ArmBranchOpSize(5), kArmNoOpSize);
}

TEST(EncodedProgram, ArmBranchesAssembleFromTheirOps)
{
    // bl to itself (ARM) and beq.w to itself (Thumb-2), each at its own RVA.
    static const uint8_t kArm[4] = {0xFE, 0xFF, 0xFF, 0xEB};
    static const uint8_t kThumb[4] = {0x3F, 0xF4, 0xFE, 0xAF};
    DisassembledProgram program(EXE_ELF_32_ARM);
    ASSERT_TRUE(program.EmitOrigin(0x1000));
    ASSERT_TRUE(program.EmitRel32Arm(0x30EB, program.FindOrMakeRel32Label(0x1000), kArm, 4));
    ASSERT_TRUE(program.EmitRel32Arm(0x5000, program.FindOrMakeRel32Label(0x1004), kThumb, 4));
    ASSERT_TRUE(program.AssignLabelIndexes());
    auto encoded = encode(program);
    EXPECT_EQ(toVector(encoded->ops()), (std::vector<uint32_t>{OP_ORIGIN, 0x30EB, 0x5000}));
    EXPECT_EQ(assemble(*encoded), (Bytes{0xFE, 0xFF, 0xFF, 0xEB, 0x3F, 0xF4, 0xFE, 0xAF}));
}

} // namespace
