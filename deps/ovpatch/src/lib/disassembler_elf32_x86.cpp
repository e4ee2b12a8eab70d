#include "disassembler_elf32_x86.h"

#include <new>

#include "disassembled_program.h"

namespace ovpatch {

uint32_t X86RelativeTarget(const uint8_t *field)
{
    const uint32_t value = uint32_t(field[0]) | uint32_t(field[1]) << 8 | uint32_t(field[2]) << 16 |
                           uint32_t(field[3]) << 24;
    return value + 4;
}

bool DisassemblerElf32X86::TypedRVAX86::DecodeTarget(const uint8_t *field)
{
    set_relative_target(X86RelativeTarget(field));
    return true;
}

bool DisassemblerElf32X86::TypedRVAX86::EmitTo(DisassembledProgram *program, uint32_t targetRva)
{
    return program->EmitRel32(program->FindOrMakeRel32Label(targetRva));
}

bool DisassemblerElf32X86::RelocationToRva(uint64_t rOffset, uint64_t rInfo, uint32_t *rva) const
{
    if (rInfo != elf::R_386_RELATIVE)
        return false;
    *rva = static_cast<uint32_t>(rOffset);
    return true;
}

bool DisassemblerElf32X86::ParseRelocationSection(const SectionHeader &section,
                                                  DisassembledProgram *program)
{
    // The table is rebuilt only when it starts with exactly the relative
    // relocations the program knows, in address order; anything else keeps
    // the whole section as bytes.
    const NoThrowVector<uint32_t> &abs32 = abs32_locations();
    const uint64_t n = abs32.size();
    bool rebuild = n > 0 && n <= EntryCount(section);
    for (uint64_t i = 0; rebuild && i < n; ++i) {
        uint64_t rOffset = 0, rInfo = 0;
        rebuild = ReadRelocation(section, i, &rOffset, &rInfo) && rInfo == elf::R_386_RELATIVE &&
                  rOffset == abs32[static_cast<size_t>(i)];
    }
    const uint64_t end = section.offset + section.size;
    if (!rebuild)
        return EmitRange(program, section.offset, end);
    return program->EmitMakeRelocs(INSN_MAKE_ELF_RELOCS) &&
           EmitRange(program, section.offset + n * layout().relEntrySize, end);
}

bool DisassemblerElf32X86::FindRel32InSection(const SectionHeader &section)
{
    const uint8_t *bytes = PointerAt(static_cast<size_t>(section.offset));
    const size_t size = static_cast<size_t>(section.size);
    const uint32_t base = static_cast<uint32_t>(section.addr);
    size_t p = 0;
    while (p < size) {
        const size_t remaining = size - p;
        size_t field = 0;
        if (remaining >= 5 && (bytes[p] & 0xFE) == 0xE8) // call/jmp rel32
            field = p + 1;
        else if (remaining >= 6 && bytes[p] == 0x0F && (bytes[p + 1] & 0xF0) == 0x80 &&
                 bytes[p + 1] != 0x8A && bytes[p + 1] != 0x8B) // jcc rel32 but JP/JNP
            field = p + 2;
        if (field != 0) {
            const uint32_t rva = base + static_cast<uint32_t>(field);
            const uint32_t relative = X86RelativeTarget(bytes + field);
            if (IsValidTarget(rva + relative)) {
                if (!AddRel32At<TypedRVAX86>(rva, relative))
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
