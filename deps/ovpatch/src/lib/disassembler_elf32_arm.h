#pragma once

#include "arm_branch.h"
#include "disassembler_elf.h"

namespace ovpatch {

// 32-bit ARM ELF executables and shared libraries, ARM and Thumb code.
class DisassemblerElf32ARM : public DisassemblerElf32
{
public:
    // One ARM or Thumb branch of the given ArmBranchType.
    class TypedRVAARM : public TypedRVA
    {
    public:
        TypedRVAARM(ArmBranchType type, uint32_t rva) : TypedRVA(rva), m_Type(type) {}
        bool DecodeTarget(const uint8_t *field) override;
        bool EmitTo(DisassembledProgram *program, uint32_t targetRva) override;
        uint16_t OpSize() const override { return ArmBranchOpSize(m_Type); }

        ArmBranchType type() const { return m_Type; }
        uint16_t compressed_op() const { return m_CompressedOp; }

    private:
        ArmBranchType m_Type;
        uint16_t m_CompressedOp = 0;
        const uint8_t *m_Bytes = nullptr;
    };

    DisassemblerElf32ARM(const void *data, size_t length) : DisassemblerElf32(data, length) {}

    ExecutableType kind() const override { return EXE_ELF_32_ARM; }

protected:
    uint16_t MachineCode() const override { return elf::EM_ARM; }
    bool RelocationToRva(uint64_t rOffset, uint64_t rInfo, uint32_t *rva) const override;
    bool ParseRelocationSection(const SectionHeader &section,
                                DisassembledProgram *program) override;
    bool FindRel32InSection(const SectionHeader &section) override;
};

} // namespace ovpatch
