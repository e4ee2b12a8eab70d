#include "disassembler_elf64_x64.h"

#include <new>

#include "disassembled_program.h"
#include "disassembler_elf32_x86.h"

namespace ovpatch {

bool DisassemblerElf64X64::TypedRVAX64::DecodeTarget(const uint8_t *field)
{
    set_relative_target(X86RelativeTarget(field));
    return true;
}

bool DisassemblerElf64X64::TypedRVAX64::EmitTo(DisassembledProgram *program, uint32_t targetRva)
{
    return program->EmitRel32(program->FindOrMakeRel32Label(targetRva));
}

bool DisassemblerElf64X64::ParseRelocationSection(const SectionHeader &section,
                                                  DisassembledProgram *program)
{
    return EmitRange(program, section.offset, section.offset + section.size);
}

bool DisassemblerElf64X64::FindRel32InSection(const SectionHeader &section)
{
    const uint8_t *bytes = PointerAt(static_cast<size_t>(section.offset));
    const size_t size = static_cast<size_t>(section.size);
    const uint32_t base = static_cast<uint32_t>(section.addr);
    size_t p = 0;
    while (p < size) {
        const size_t remaining = size - p;
        // Later rules win where several match.
        size_t field = 0;
        if (remaining >= 5 && (bytes[p] & 0xFE) == 0xE8) // call/jmp rel32
            field = p + 1;
        if (remaining >= 6) {
            if (bytes[p] == 0xFF && (bytes[p + 1] == 0x15 || bytes[p + 1] == 0x25))
                field = p + 2; // call/jmp [rip + disp32]
            else if (bytes[p] == 0x0F && (bytes[p + 1] & 0xF0) == 0x80 &&
                     (bytes[p + 1] & 0xFE) != 0x8A)
                field = p + 2; // jcc rel32 but JP/JNP
        }
        if (remaining >= 7 && (bytes[p] & 0xFE) == 0x48 &&
            (bytes[p + 1] == 0x8B || bytes[p + 1] == 0x8D) && (bytes[p + 2] & 0xC7) == 0x05)
            field = p + 3; // mov/lea reg, [rip + disp32] with REX.W
        if (field != 0) {
            const uint32_t rva = base + static_cast<uint32_t>(field);
            const uint32_t relative = X86RelativeTarget(bytes + field);
            if (IsValidTarget(rva + relative)) {
                if (!AddRel32At<TypedRVAX64>(rva, relative))
                    return false;
                p = field + 4;
                continue;
            }
        }
        ++p;
    }
    return true;
}

} // namespace ovpatch
