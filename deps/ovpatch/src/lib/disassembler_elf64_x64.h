#pragma once

#include "disassembler_elf.h"

namespace ovpatch {

// x86-64 ELF executables and shared libraries. Their relocation sections
// (SHT_REL, rarely present) stay plain bytes and there are no absolute
// address fields.
class DisassemblerElf64X64 : public DisassemblerElf64
{
public:
    // A call, jump, conditional jump or RIP-relative operand whose 32-bit
    // displacement ends the instruction.
    class TypedRVAX64 : public TypedRVA
    {
    public:
        explicit TypedRVAX64(uint32_t rva) : TypedRVA(rva) {}
        bool DecodeTarget(const uint8_t *field) override;
        bool EmitTo(DisassembledProgram *program, uint32_t targetRva) override;
        uint16_t OpSize() const override { return 4; }
    };

    DisassemblerElf64X64(const void *data, size_t length) : DisassemblerElf64(data, length) {}

    ExecutableType kind() const override { return EXE_ELF_64_X64; }

protected:
    uint16_t MachineCode() const override { return elf::EM_X86_64; }
    bool RelocationToRva(uint64_t, uint64_t, uint32_t *) const override { return false; }
    bool ParseRelocationSection(const SectionHeader &section,
                                DisassembledProgram *program) override;
    bool FindRel32InSection(const SectionHeader &section) override;
};

} // namespace ovpatch
