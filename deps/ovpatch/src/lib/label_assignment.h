#pragma once

#include "disassembled_program.h"

// Label numbering for the making side: the new program's labels take the
// indexes of the old program's corresponding labels, so that the encoded
// tables of the two programs differ as little as possible. The apply side
// never uses this; it numbers labels with AssignLabelIndexes only.
namespace ovpatch {

// Sets every index to -1 (abs32 map, then rel32 map), or in one map.
void ClearLabelIndexes(DisassembledProgram *program);
void ClearLabelIndexes(LabelMap *labels);

// Completes a partial numbering, abs32 map then rel32 map: a label without an
// index takes one above its predecessor's or one below its successor's when
// that index is free, otherwise the lowest free index in address order.
// Distinct pre-assigned labels keep their indexes.
void FillLabelIndexes(DisassembledProgram *program);
void FillLabelIndexes(LabelMap *labels);

// The label of an INSN_ABS32 instruction, else null.
Label *Abs32LabelOf(const Instruction *instruction);
// The label of an INSN_REL32 or INSN_REL32_ARM instruction, else null.
Label *Rel32LabelOf(const Instruction *instruction);

// The matching step: numbers newProgram's labels after oldProgram's (whose
// labels must all carry indexes). Labels are paired by the code around the
// references to them and by their distance to labels already paired; the
// rest is completed with FillLabelIndexes.
void MatchLabelIndexes(const DisassembledProgram &oldProgram, DisassembledProgram *newProgram);

} // namespace ovpatch
