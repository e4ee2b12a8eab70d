#include "disassembler_elf32_arm.h"

#include <new>

#include "disassembled_program.h"

namespace ovpatch {
namespace {

uint32_t Load16(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}

uint32_t Load32(const uint8_t *p)
{
    return Load16(p) | Load16(p + 2) << 16;
}

} // namespace

bool DisassemblerElf32ARM::TypedRVAARM::DecodeTarget(const uint8_t *field)
{
    uint32_t instruction = 0;
    switch (m_Type) {
    case ARM_B8:
    case ARM_B11:
        instruction = Load16(field);
        break;
    case ARM_B24:
        instruction = Load32(field);
        break;
    case ARM_BL25:
    case ARM_B21:
        // Thumb-2: the first halfword is the high half of the instruction.
        instruction = Load16(field) << 16 | Load16(field + 2);
        break;
    default:
        return false;
    }
    m_Bytes = field;
    uint32_t relative = 0;
    if (!DecodeArmBranch(m_Type, instruction, rva(), &m_CompressedOp, &relative))
        return false;
    set_relative_target(relative);
    return true;
}

bool DisassemblerElf32ARM::TypedRVAARM::EmitTo(DisassembledProgram *program, uint32_t targetRva)
{
    return program->EmitRel32Arm(m_CompressedOp, program->FindOrMakeRel32Label(targetRva), m_Bytes,
                                 OpSize());
}

bool DisassemblerElf32ARM::RelocationToRva(uint64_t rOffset, uint64_t rInfo, uint32_t *rva) const
{
    if (rInfo != elf::R_ARM_RELATIVE)
        return false;
    *rva = static_cast<uint32_t>(rOffset);
    return true;
}

bool DisassemblerElf32ARM::ParseRelocationSection(const SectionHeader &section,
                                                  DisassembledProgram *program)
{
    const NoThrowVector<uint32_t> &abs32 = abs32_locations();
    const uint64_t n = abs32.size();
    const uint64_t m = EntryCount(section);
    const uint64_t end = section.offset + section.size;
    const uint64_t entrySize = layout().relEntrySize;
    if (n == 0)
        return EmitRange(program, section.offset, end);
    auto entryStart = [&](uint64_t i) { return section.offset + i * entrySize; };

    // Entries before the first known relative relocation stay bytes.
    uint64_t i = 0;
    for (; i < m; ++i) {
        uint64_t rOffset = 0, rInfo = 0;
        if (!ReadRelocation(section, i, &rOffset, &rInfo))
            return false;
        if (rOffset == abs32[0])
            break;
        if (!EmitRange(program, entryStart(i), entryStart(i) + entrySize))
            return false;
    }
    if (n > m)
        return EmitRange(program, entryStart(i), end);

    for (uint64_t j = 0; j < n; ++j) {
        const uint64_t k = i + j;
        uint64_t rOffset = 0, rInfo = 0;
        const bool match = k < m && ReadRelocation(section, k, &rOffset, &rInfo) &&
                           rInfo == elf::R_ARM_RELATIVE && rOffset == abs32[static_cast<size_t>(j)];
        if (!match) {
            // The entries matched so far and the mismatching one itself are
            // left out of the program: their bytes are lost when it is
            // assembled. Stored patches are built on exactly this output.
            return EmitRange(program, entryStart(k) + entrySize, end);
        }
    }
    return program->EmitMakeRelocs(INSN_MAKE_ELF_ARM_RELOCS) &&
           EmitRange(program, entryStart(i + n), end);
}

bool DisassemblerElf32ARM::FindRel32InSection(const SectionHeader &section)
{
    const uint8_t *bytes = PointerAt(static_cast<size_t>(section.offset));
    const size_t size = static_cast<size_t>(section.size);
    const uint32_t base = static_cast<uint32_t>(section.addr);
    // ARM words are only tested where the scan is word-aligned relative to
    // the last accepted branch: every unmatched halfword flips this.
    bool armWords = true;
    size_t p = 0;
    while (p < size) {
        const size_t remaining = size - p;
        int type = -1;
        if (remaining >= 3) {
            const uint32_t h = Load16(bytes + p);
            if ((h & 0xF000) == 0xD000) {
                type = ARM_B8;
            } else if ((h & 0xF800) == 0xE000) {
                type = ARM_B11;
            } else if (remaining >= 5) {
                const uint32_t second = Load16(bytes + p + 2);
                const uint32_t w = h << 16 | second;
                if ((w & 0xF8008000) == 0xF0008000)
                    type = (second & 0x5000) != 0 ? ARM_BL25 : ARM_B21;
                else if (armWords && (Load32(bytes + p) & 0x0E000000) == 0x0A000000)
                    type = ARM_B24;
            }
        }
        if (type < 0) {
            p += 2;
            armWords = !armWords;
            continue;
        }
        const uint32_t rva = base + static_cast<uint32_t>(p);
        const auto branchType = static_cast<ArmBranchType>(type);
        TypedRVAARM candidate(branchType, rva);
        if (!candidate.DecodeTarget(bytes + p))
            return false;
        if (IsValidTarget(rva + candidate.relative_target())) {
            std::unique_ptr<TypedRVAARM> location(new (std::nothrow) TypedRVAARM(branchType, rva));
            if (!location || !location->DecodeTarget(bytes + p) ||
                !AddRel32Location(std::move(location)))
                return false;
            p += candidate.OpSize();
            armWords = true;
        } else {
            p += 2;
            armWords = !armWords;
        }
    }
    return true;
}

} // namespace ovpatch
