#pragma once

#include "disassembler_elf.h"

namespace ovpatch {

// 32-bit x86 ELF executables and shared libraries.
class DisassemblerElf32X86 : public DisassemblerElf32
{
public:
    // A call, jump or conditional jump with a 32-bit displacement.
    class TypedRVAX86 : public TypedRVA
    {
    public:
        explicit TypedRVAX86(uint32_t rva) : TypedRVA(rva) {}
        bool DecodeTarget(const uint8_t *field) override;
        bool EmitTo(DisassembledProgram *program, uint32_t targetRva) override;
        uint16_t OpSize() const override { return 4; }
    };

    DisassemblerElf32X86(const void *data, size_t length) : DisassemblerElf32(data, length) {}

    ExecutableType kind() const override { return EXE_ELF_32_X86; }

protected:
    uint16_t MachineCode() const override { return elf::EM_386; }
    bool RelocationToRva(uint64_t rOffset, uint64_t rInfo, uint32_t *rva) const override;
    bool ParseRelocationSection(const SectionHeader &section,
                                DisassembledProgram *program) override;
    bool FindRel32InSection(const SectionHeader &section) override;
};

// Reads the little-endian displacement at field and returns the target
// relative to the field (displacement + 4: the instruction ends after it).
uint32_t X86RelativeTarget(const uint8_t *field);

} // namespace ovpatch
