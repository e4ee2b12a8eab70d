#include <algorithm>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "disassembled_program.h"
#include "label_assignment.h"

using namespace ovpatch;

namespace {

// RVA -> pre-assigned index (-1 for none); the expected indexes after filling.
struct FillCase
{
    const char *name;
    std::map<uint32_t, int32_t> labels;
    std::vector<int32_t> expected;
};

class FillLabels : public ::testing::TestWithParam<FillCase>
{
};

TEST_P(FillLabels, CompletesTheNumbering)
{
    const FillCase &c = GetParam();
    DisassembledProgram program(EXE_ELF_32_X86);
    for (const auto &[rva, index] : c.labels) {
        program.FindOrMakeRel32Label(rva)->index = index;
        // The abs32 map is filled the same way and independently.
        program.FindOrMakeAbs32Label(rva)->index = index;
    }
    FillLabelIndexes(&program);
    std::vector<int32_t> rel32;
    std::vector<int32_t> abs32;
    for (const auto &entry : program.rel32_labels())
        rel32.push_back(entry.second.index);
    for (const auto &entry : program.abs32_labels())
        abs32.push_back(entry.second.index);
    EXPECT_EQ(rel32, c.expected);
    EXPECT_EQ(abs32, c.expected);
}

const FillCase kFillCases[] = {
    {"NothingPreAssignedNumbersInAddressOrder", {{0x300, -1}, {0x100, -1}, {0x200, -1}}, {0, 1, 2}},
    // The vector grows to 6 entries, index 6 lies outside it, 5 is taken,
    // so the last label gets the lowest free index.
    {"MiddlePreAssigned", {{0x100, -1}, {0x200, 5}, {0x300, -1}}, {0, 5, 1}},
    // The indexes below a far one stay free for the other labels.
    {"FarIndexLeavesTheGapFree", {{0x10, -1}, {0x20, 1000}, {0x30, -1}, {0x40, -1}}, {0, 1000, 1, 2}},
    {"FollowsPredecessor", {{0x10, 1}, {0x20, -1}, {0x30, -1}, {0x40, -1}}, {1, 2, 3, 0}},
    // Forward filling finds nothing for the middle label (5 is outside the
    // vector); backward filling takes one below its successor.
    {"FillsBackwardFromSuccessor", {{0x10, 4}, {0x20, -1}, {0x30, 2}}, {4, 1, 2}},
    // Two labels claiming one index would share an address in the tables;
    // the second is numbered afresh.
    {"DuplicateIndexIsRenumbered", {{0x10, 1}, {0x20, 1}}, {1, 0}},
};

INSTANTIATE_TEST_SUITE_P(Examples, FillLabels, ::testing::ValuesIn(kFillCases),
                         [](const ::testing::TestParamInfo<FillCase> &info) { return info.param.name; });

TEST(ClearLabelIndexes, ClearsBothMaps)
{
    DisassembledProgram program(EXE_ELF_32_X86);
    program.FindOrMakeAbs32Label(0x10);
    program.FindOrMakeRel32Label(0x20);
    ASSERT_TRUE(program.AssignLabelIndexes());
    ClearLabelIndexes(&program);
    EXPECT_EQ(program.abs32_labels().at(0x10).index, -1);
    EXPECT_EQ(program.rel32_labels().at(0x20).index, -1);
}

TEST(LabelOf, SelectsByInstructionKind)
{
    DisassembledProgram program(EXE_ELF_32_ARM);
    static const uint8_t branch[4] = {0xFE, 0xD0, 0, 0};
    Label *abs = program.FindOrMakeAbs32Label(0x10);
    Label *rel = program.FindOrMakeRel32Label(0x20);
    ASSERT_TRUE(program.EmitAbs32(abs));
    ASSERT_TRUE(program.EmitRel32(rel));
    ASSERT_TRUE(program.EmitRel32Arm(0x10D0, rel, branch, 2));
    ASSERT_TRUE(program.EmitByte(7));
    const auto &insns = program.instructions();
    EXPECT_EQ(Abs32LabelOf(insns[0]), abs);
    EXPECT_EQ(Rel32LabelOf(insns[0]), nullptr);
    EXPECT_EQ(Rel32LabelOf(insns[1]), rel);
    EXPECT_EQ(Abs32LabelOf(insns[1]), nullptr);
    EXPECT_EQ(Rel32LabelOf(insns[2]), rel);
    EXPECT_EQ(Abs32LabelOf(insns[3]), nullptr);
    EXPECT_EQ(Rel32LabelOf(insns[3]), nullptr);
}

// A program of "functions": each is a few distinct bytes followed by a call
// to the next function's label. The new version inserts one function in the
// middle, which moves every later label.
// The program points into its image, so the bytes live in image.
void BuildProgram(DisassembledProgram *program, const std::vector<uint32_t> &functions, uint32_t base,
                  std::vector<uint8_t> *image)
{
    uint32_t rva = base;
    image->resize(6 * functions.size());
    program->EmitOrigin(base);
    for (size_t i = 0; i < functions.size(); ++i) {
        const uint32_t id = functions[i];
        uint8_t *body = image->data() + 6 * i;
        const uint8_t bytes[6] = {0x55, uint8_t(id), uint8_t(id >> 8), uint8_t(id * 7), 0x90, 0xE8};
        std::copy(bytes, bytes + 6, body);
        program->EmitBytes(body, 6);
        const uint32_t target = i + 1 < functions.size() ? rva + 10 : base;
        program->EmitRel32(program->FindOrMakeRel32Label(target));
        rva += 10;
    }
}

TEST(MatchLabelIndexes, MovedLabelsKeepTheirOldIndexes)
{
    static const std::vector<uint32_t> oldFunctions = {11, 12, 13, 14, 15, 16, 17, 18};
    static const std::vector<uint32_t> newFunctions = {11, 12, 13, 99, 14, 15, 16, 17, 18};
    DisassembledProgram oldProgram(EXE_ELF_32_X86);
    DisassembledProgram newProgram(EXE_ELF_32_X86);
    std::vector<uint8_t> oldImage;
    std::vector<uint8_t> newImage;
    BuildProgram(&oldProgram, oldFunctions, 0x1000, &oldImage);
    BuildProgram(&newProgram, newFunctions, 0x1000, &newImage);
    ASSERT_TRUE(oldProgram.AssignLabelIndexes());
    ASSERT_TRUE(newProgram.AssignLabelIndexes());

    MatchLabelIndexes(oldProgram, &newProgram);

    // Function k of the old program starts at 0x1000 + 10k; its label is
    // the target of the call that ends function k-1.
    std::map<uint32_t, int32_t> oldIndexOfFunction;
    for (size_t k = 0; k < oldFunctions.size(); ++k)
        oldIndexOfFunction[oldFunctions[k]] = oldProgram.rel32_labels().at(0x1000 + 10 * k).index;
    std::vector<int32_t> seen;
    for (size_t k = 0; k < newFunctions.size(); ++k) {
        const int32_t index = newProgram.rel32_labels().at(0x1000 + 10 * k).index;
        seen.push_back(index);
        if (newFunctions[k] != 99) {
            EXPECT_EQ(index, oldIndexOfFunction[newFunctions[k]]) << "function " << newFunctions[k];
        }
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_TRUE(std::adjacent_find(seen.begin(), seen.end()) == seen.end()) << "indexes must be distinct";
}

} // namespace
