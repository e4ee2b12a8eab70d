#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "nothrow_vector.h"
#include "patchstatus.h"

// A disassembled executable: a list of instructions that either copy bytes or
// stand for a 32-bit address field pointing at a label. Encoding it replaces
// every address by its label's index, so code that moves between versions
// changes a few table entries instead of every pointer past the move.
namespace ovpatch {

class EncodedProgram;

struct Label
{
    uint32_t rva = 0;
    int32_t index = -1; // -1 while unassigned
    int32_t count = 0;  // references made through FindOrMake*Label
};

// The instruction kinds; the numbers are the low 4 bits of a record's first
// word.
enum InstructionKind : uint32_t
{
    INSN_ORIGIN = 0,
    INSN_MAKE_PE_RELOCS = 1,
    INSN_MAKE_ELF_RELOCS = 2,
    INSN_BYTE = 3,
    INSN_REL32 = 4,
    INSN_ABS32 = 5,
    INSN_REL32_ARM = 6,
    INSN_MAKE_ELF_ARM_RELOCS = 7,
    INSN_BYTES = 8,
};

class Instruction
{
public:
    virtual ~Instruction() = default;
    Instruction(const Instruction &) = delete;
    Instruction &operator=(const Instruction &) = delete;

    InstructionKind kind() const { return static_cast<InstructionKind>(m_Info & 0xF); }

protected:
    explicit Instruction(InstructionKind kind, uint32_t info = 0)
        : m_Info(static_cast<uint32_t>(kind) | (info << 4))
    {
    }
    uint32_t info() const { return m_Info >> 4; }

private:
    uint32_t m_Info;
};

// INSN_ORIGIN: the bytes that follow start at rva.
class OriginInstruction : public Instruction
{
public:
    explicit OriginInstruction(uint32_t rva) : Instruction(INSN_ORIGIN), m_Rva(rva) {}
    uint32_t rva() const { return m_Rva; }

private:
    uint32_t m_Rva;
};

// INSN_MAKE_PE_RELOCS, INSN_MAKE_ELF_RELOCS, INSN_MAKE_ELF_ARM_RELOCS: the
// relocation table is rebuilt here when the program is assembled.
class MakeRelocsInstruction : public Instruction
{
public:
    explicit MakeRelocsInstruction(InstructionKind kind) : Instruction(kind) {}
};

// INSN_BYTE: one byte; the 256 possible records are shared by the program.
class ByteInstruction : public Instruction
{
public:
    explicit ByteInstruction(uint8_t value) : Instruction(INSN_BYTE, value) {}
    uint8_t value() const { return static_cast<uint8_t>(info() & 0xFF); }
};

// INSN_BYTES: bytes of the input image.
class BytesInstruction : public Instruction
{
public:
    BytesInstruction(const uint8_t *bytes, uint32_t count)
        : Instruction(INSN_BYTES), m_Bytes(bytes), m_Count(count)
    {
    }
    const uint8_t *bytes() const { return m_Bytes; }
    uint32_t count() const { return m_Count; }

private:
    const uint8_t *m_Bytes;
    uint32_t m_Count;
};

// INSN_REL32 and INSN_ABS32: a 32-bit address field pointing at label.
class LabelInstruction : public Instruction
{
public:
    LabelInstruction(InstructionKind kind, Label *label) : Instruction(kind), m_Label(label) {}
    Label *label() const { return m_Label; }

private:
    Label *m_Label;
};

// INSN_REL32_ARM: an ARM or Thumb branch; compressedOp carries the branch type
// and the instruction bits that are not the offset (see arm_branch.h). The
// branch's own bytes stay reachable so trimming can turn it back into bytes.
class Rel32ArmInstruction : public LabelInstruction
{
public:
    Rel32ArmInstruction(uint16_t compressedOp, Label *label, const uint8_t *bytes, uint16_t opSize)
        : LabelInstruction(INSN_REL32_ARM, label), m_CompressedOp(compressedOp), m_Bytes(bytes),
          m_OpSize(opSize)
    {
    }
    uint16_t compressedOp() const { return m_CompressedOp; }
    const uint8_t *bytes() const { return m_Bytes; }
    uint16_t opSize() const { return m_OpSize; }

private:
    uint16_t m_CompressedOp;
    const uint8_t *m_Bytes;
    uint16_t m_OpSize;
};

using LabelMap = std::map<uint32_t, Label>;

// Owned by whoever parsed the executable. Byte and branch instructions point
// into the executable's bytes, which must outlive the program. Every
// operation reports failure by its result and never throws.
class DisassembledProgram
{
public:
    explicit DisassembledProgram(ExecutableType kind);
    ~DisassembledProgram();
    DisassembledProgram(const DisassembledProgram &) = delete;
    DisassembledProgram &operator=(const DisassembledProgram &) = delete;

    ExecutableType kind() const { return m_Kind; }
    uint64_t image_base() const { return m_ImageBase; }
    void set_image_base(uint64_t base) { m_ImageBase = base; }

    // Each appends one instruction; false (list unchanged) when allocation
    // fails or, for the label forms, when no label is given.
    bool EmitOrigin(uint32_t rva);
    bool EmitByte(uint8_t value);
    bool EmitBytes(const uint8_t *bytes, size_t count);
    bool EmitRel32(Label *label);
    bool EmitAbs32(Label *label);
    bool EmitRel32Arm(uint16_t compressedOp, Label *label, const uint8_t *bytes, uint16_t opSize);
    // kind is INSN_MAKE_PE_RELOCS, INSN_MAKE_ELF_RELOCS or
    // INSN_MAKE_ELF_ARM_RELOCS.
    bool EmitMakeRelocs(InstructionKind kind);

    // The label at rva (created with index -1 when new), its count raised by
    // one; null only when allocation fails.
    Label *FindOrMakeAbs32Label(uint32_t rva);
    Label *FindOrMakeRel32Label(uint32_t rva);

    // Numbers the abs32 labels, then the rel32 labels, 0, 1, 2, ... in
    // ascending RVA order.
    bool AssignLabelIndexes();
    // ARM programs only: rel32 labels referenced 5 times or less are dropped
    // and their branches travel as plain bytes. Indexes are not reassigned.
    bool TrimLabels();
    // The label-indexed tables of this program, or null on failure.
    std::unique_ptr<EncodedProgram> EncodeProgram() const;

    const NoThrowVector<Instruction *> &instructions() const { return m_Instructions; }
    LabelMap &abs32_labels() { return m_Abs32Labels; }
    LabelMap &rel32_labels() { return m_Rel32Labels; }
    const LabelMap &abs32_labels() const { return m_Abs32Labels; }
    const LabelMap &rel32_labels() const { return m_Rel32Labels; }

private:
    bool Append(Instruction *instruction);
    Label *FindOrMakeLabel(LabelMap *labels, uint32_t rva);

    ExecutableType m_Kind;
    uint64_t m_ImageBase = 0;
    NoThrowVector<Instruction *> m_Instructions{32};
    Instruction **m_ByteCache = nullptr;
    LabelMap m_Abs32Labels;
    LabelMap m_Rel32Labels;
    // Labels removed by TrimLabels stay alive (at the same address) until the
    // program dies, so no instruction can be left pointing at freed memory.
    std::vector<LabelMap::node_type> m_TrimmedLabels;
};

// Status forms of the program steps used by the package and ensemble code:
// PS_OK, or PS_TRIM_FAILED when trimming fails, PS_FAILED when encoding fails
// (no encoded program is returned).
PatchStatus TrimLabels(DisassembledProgram *program);
PatchStatus Encode(const DisassembledProgram &program, std::unique_ptr<EncodedProgram> *encoded);

} // namespace ovpatch
