#include "disassembler_elf.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "disassembled_program.h"
#include "enginelog.h"

namespace ovpatch {
namespace {

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

uint64_t SaturatingAdd(uint64_t a, uint64_t b)
{
    return b > kMax - a ? kMax : a + b;
}

// True when [offset, offset + size) lies within [0, limit).
bool RangeWithin(uint64_t offset, uint64_t size, uint64_t limit)
{
    return offset <= limit && size <= limit - offset;
}

bool Contains(uint64_t start, uint64_t size, uint64_t value)
{
    return value >= start && value - start < size;
}

} // namespace

DisassemblerElf::DisassemblerElf(const void *data, size_t length, const elf::ClassLayout &layout)
    : Disassembler(data, length), m_Layout(layout)
{
}

bool DisassemblerElf::ReadField(uint64_t recordOffset, elf::Field field, uint64_t *value) const
{
    if (!RangeWithin(recordOffset, uint64_t(field.offset) + field.size, length()))
        return false;
    const uint8_t *p = PointerAt(static_cast<size_t>(recordOffset + field.offset));
    uint64_t result = 0;
    for (unsigned i = field.size; i > 0; --i)
        result = result << 8 | p[i - 1];
    *value = result;
    return true;
}

bool DisassemblerElf::CheckHeader()
{
    const uint64_t size = length();
    if (size < m_Layout.headerSize)
        return Bad("Too small");
    if (std::memcmp(start(), elf::kMagic, sizeof(elf::kMagic)) != 0)
        return Bad("No Magic Number");

    // The whole header is inside the input now, so these reads cannot fail.
    uint64_t type = 0, machine = 0, version = 0, phoff = 0, shoff = 0, shentsize = 0, phnum = 0,
             shnum = 0, shstrndx = 0;
    ReadField(0, m_Layout.e_type, &type);
    ReadField(0, m_Layout.e_machine, &machine);
    ReadField(0, m_Layout.e_version, &version);
    ReadField(0, m_Layout.e_phoff, &phoff);
    ReadField(0, m_Layout.e_shoff, &shoff);
    ReadField(0, m_Layout.e_shentsize, &shentsize);
    ReadField(0, m_Layout.e_phnum, &phnum);
    ReadField(0, m_Layout.e_shnum, &shnum);
    ReadField(0, m_Layout.e_shstrndx, &shstrndx);

    if ((type & ~uint64_t(1)) != elf::ET_EXEC)
        return Bad("Not an executable file or shared library");
    if (machine != MachineCode())
        return Bad("Not a supported architecture");
    if (version != elf::EV_CURRENT)
        return Bad("Unknown file version");
    // This also rejects the other class, whose e_ident is not checked.
    if (shentsize != m_Layout.sectionHeaderSize)
        return Bad("Unexpected section header size");
    if (shoff >= size)
        return Bad("Out of bounds section header table offset");
    const uint64_t sectionTableSize = shnum * shentsize;
    if (!RangeWithin(shoff, sectionTableSize, size))
        return Bad("Out of bounds section header table");
    if (phoff >= size)
        return Bad("Out of bounds program header table offset");
    const uint64_t programTableSize = phnum * m_Layout.programHeaderSize;
    if (!RangeWithin(phoff, programTableSize, size))
        return Bad("Out of bounds program header table");
    // Section names are never read through an index that names no section.
    if (shstrndx >= shnum)
        return Bad("Out of bounds section name string table index");
    if (!ReadSectionHeaders(shoff, shnum) || !ReadProgramHeaders(phoff, phnum))
        return Bad("Out of memory");
    m_SectionNamesOffset = m_Sections[static_cast<size_t>(shstrndx)].offset;

    // Bytes after the last section, segment and header table (appended data)
    // are not part of the executable.
    uint64_t extent = std::max(shoff + sectionTableSize, phoff + programTableSize);
    for (const SectionHeader &section : m_Sections) {
        if (section.type != elf::SHT_NOBITS)
            extent = std::max(extent, SaturatingAdd(section.offset, section.size));
    }
    for (const ProgramHeader &header : m_ProgramHeaders)
        extent = std::max(extent, SaturatingAdd(header.offset, header.filesz));
    ShrinkLength(static_cast<size_t>(std::min<uint64_t>(extent, size)));
    return Good();
}

bool DisassemblerElf::ReadSectionHeaders(uint64_t shoff, uint64_t shnum)
{
    m_Sections.clear();
    if (!m_Sections.reserve(static_cast<size_t>(shnum)))
        return false;
    for (uint64_t i = 0; i < shnum; ++i) {
        const uint64_t record = shoff + i * m_Layout.sectionHeaderSize;
        uint64_t type = 0;
        SectionHeader section{};
        ReadField(record, m_Layout.sh_type, &type);
        ReadField(record, m_Layout.sh_addr, &section.addr);
        ReadField(record, m_Layout.sh_offset, &section.offset);
        ReadField(record, m_Layout.sh_size, &section.size);
        ReadField(record, m_Layout.sh_entsize, &section.entsize);
        section.type = static_cast<uint32_t>(type);
        m_Sections.push_back(section);
    }
    return true;
}

bool DisassemblerElf::ReadProgramHeaders(uint64_t phoff, uint64_t phnum)
{
    m_ProgramHeaders.clear();
    if (!m_ProgramHeaders.reserve(static_cast<size_t>(phnum)))
        return false;
    for (uint64_t i = 0; i < phnum; ++i) {
        const uint64_t record = phoff + i * m_Layout.programHeaderSize;
        uint64_t type = 0;
        ProgramHeader header{};
        ReadField(record, m_Layout.p_type, &type);
        ReadField(record, m_Layout.p_offset, &header.offset);
        ReadField(record, m_Layout.p_vaddr, &header.vaddr);
        ReadField(record, m_Layout.p_filesz, &header.filesz);
        ReadField(record, m_Layout.p_memsz, &header.memsz);
        header.type = static_cast<uint32_t>(type);
        m_ProgramHeaders.push_back(header);
    }
    return true;
}

bool DisassemblerElf::RvaToFileOffset(uint32_t rva, uint64_t *offset) const
{
    for (const ProgramHeader &header : m_ProgramHeaders) {
        if (!Contains(header.vaddr, header.memsz, rva) || rva - header.vaddr >= header.filesz)
            continue;
        const uint64_t delta = rva - header.vaddr;
        if (delta > kMax - header.offset)
            continue;
        *offset = delta + header.offset;
        return true;
    }
    return false;
}

bool DisassemblerElf::IsValidTarget(uint32_t rva) const
{
    for (const ProgramHeader &header : m_ProgramHeaders) {
        if (header.type == elf::PT_LOAD && Contains(header.vaddr, header.memsz, rva))
            return true;
    }
    return false;
}

uint64_t DisassemblerElf::EntryCount(const SectionHeader &section)
{
    return section.entsize == 0 ? 0 : section.size / section.entsize;
}

bool DisassemblerElf::ReadRelocation(const SectionHeader &section, uint64_t i, uint64_t *rOffset,
                                     uint64_t *rInfo) const
{
    if (i > (kMax - section.offset) / m_Layout.relEntrySize)
        return false;
    const uint64_t record = section.offset + i * m_Layout.relEntrySize;
    return ReadField(record, m_Layout.r_offset, rOffset) &&
           ReadField(record, m_Layout.r_info, rInfo);
}

bool DisassemblerElf::EmitRange(DisassembledProgram *program, uint64_t from, uint64_t to) const
{
    if (from >= to)
        return true;
    if (to > length())
        return false;
    return program->EmitBytes(PointerAt(static_cast<size_t>(from)), static_cast<size_t>(to - from));
}

bool DisassemblerElf::AddRel32Location(std::unique_ptr<TypedRVA> location)
{
    try {
        m_Rel32Locations.push_back(std::move(location));
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

bool DisassemblerElf::SectionsInBounds() const
{
    // Sections whose bytes are read must lie inside the executable; a
    // malformed table fails the build instead of reading past the input.
    for (const SectionHeader &section : m_Sections) {
        if ((section.type == elf::SHT_PROGBITS || section.type == elf::SHT_REL) &&
            !RangeWithin(section.offset, section.size, length()))
            return false;
    }
    return true;
}

bool DisassemblerElf::BuildProgram(DisassembledProgram *program)
{
    if (failure_reason() != nullptr)
        return false;
    program->set_image_base(0);
    if (!SectionsInBounds() || !CollectAbs32Locations() || !CollectRel32Locations() ||
        !EmitSections(program))
        return false;
    return program->AssignLabelIndexes();
}

bool DisassemblerElf::CollectAbs32Locations()
{
    m_Abs32Locations.clear();
    for (const SectionHeader &section : m_Sections) {
        if (section.type != elf::SHT_REL)
            continue;
        const uint64_t count = EntryCount(section);
        for (uint64_t i = 0; i < count; ++i) {
            uint64_t rOffset = 0, rInfo = 0;
            if (!ReadRelocation(section, i, &rOffset, &rInfo))
                return false;
            uint32_t rva = 0;
            uint64_t fileOffset = 0;
            if (!RelocationToRva(rOffset, rInfo, &rva) || !RvaToFileOffset(rva, &fileOffset))
                continue;
            const bool inData = std::any_of(
                m_Sections.begin(), m_Sections.end(), [fileOffset](const SectionHeader &s) {
                    return (s.type == elf::SHT_PROGBITS || s.type == elf::SHT_REL) &&
                           Contains(s.offset, s.size, fileOffset);
                });
            if (inData && !m_Abs32Locations.push_back(rva))
                return false;
        }
    }
    std::sort(m_Abs32Locations.begin(), m_Abs32Locations.end());
    return true;
}

bool DisassemblerElf::CollectRel32Locations()
{
    m_Rel32Locations.clear();
    // Every PROGBITS section is scanned, code or not.
    for (const SectionHeader &section : m_Sections) {
        if (section.type == elf::SHT_PROGBITS && !FindRel32InSection(section))
            return false;
    }
    std::sort(m_Rel32Locations.begin(), m_Rel32Locations.end(),
              [](const std::unique_ptr<TypedRVA> &a, const std::unique_ptr<TypedRVA> &b) {
                  return a->rva() < b->rva();
              });
    return true;
}

bool DisassemblerElf::EmitSections(DisassembledProgram *program)
{
    m_Abs32Offsets.clear();
    if (!m_Abs32Offsets.reserve(m_Abs32Locations.size()))
        return false;
    for (uint32_t rva : m_Abs32Locations) {
        uint64_t offset = 0;
        if (!RvaToFileOffset(rva, &offset))
            return false;
        m_Abs32Offsets.push_back(offset);
    }
    for (const auto &location : m_Rel32Locations) {
        uint64_t offset = 0;
        if (!RvaToFileOffset(location->rva(), &offset))
            return false;
        location->set_file_offset(offset);
    }

    m_NextAbs32 = 0;
    m_NextRel32 = 0;
    const size_t abs32Count = m_Abs32Offsets.size();
    uint64_t fileOffset = 0;
    for (const SectionHeader &section : m_Sections) {
        if (!EmitRange(program, fileOffset, section.offset))
            return false;
        fileOffset = section.offset;
        switch (section.type) {
        case elf::SHT_PROGBITS:
            if (!EmitProgbitsSection(section, program))
                return false;
            fileOffset = section.offset + section.size;
            break;
        case elf::SHT_REL:
            if (!ParseRelocationSection(section, program))
                return false;
            fileOffset = section.offset + section.size;
            break;
        case elf::SHT_NOBITS:
        case elf::SHT_INIT_ARRAY:
        case elf::SHT_FINI_ARRAY:
            // Addresses in these sections are not rebuilt; the section's
            // bytes go out as plain bytes with the next gap.
            while (m_NextAbs32 < abs32Count &&
                   Contains(section.offset, section.size, m_Abs32Offsets[m_NextAbs32])) {
                LogDebug("Skipping relocation entry for unsupported section: " +
                         std::to_string(section.type));
                ++m_NextAbs32;
            }
            break;
        default:
            if (m_NextAbs32 < abs32Count &&
                Contains(section.offset, section.size, m_Abs32Offsets[m_NextAbs32]))
                LogDebug("Relocation address in unrecognized ELF section: " +
                         std::to_string(section.type));
            break;
        }
    }
    if (!EmitRange(program, fileOffset, length()))
        return false;
    return m_NextAbs32 == abs32Count;
}

bool DisassemblerElf::EmitProgbitsSection(const SectionHeader &section,
                                          DisassembledProgram *program)
{
    if (!program->EmitOrigin(static_cast<uint32_t>(section.addr)))
        return false;
    const size_t abs32Count = m_Abs32Offsets.size();
    const size_t rel32Count = m_Rel32Locations.size();
    uint64_t offset = section.offset;
    const uint64_t stop = section.offset + section.size;
    while (offset < stop) {
        if (m_NextAbs32 < abs32Count && m_Abs32Offsets[m_NextAbs32] < offset)
            return false;
        while (m_NextRel32 < rel32Count && m_Rel32Locations[m_NextRel32]->file_offset() < offset)
            ++m_NextRel32;

        uint64_t next = stop;
        if (m_NextAbs32 < abs32Count)
            next = std::min(next, m_Abs32Offsets[m_NextAbs32]);
        // A relative field that would overlap the next absolute field or
        // the section's end is not used.
        if (m_NextRel32 < rel32Count && m_Rel32Locations[m_NextRel32]->file_offset() + 3 < next)
            next = m_Rel32Locations[m_NextRel32]->file_offset();

        if (offset < next) {
            if (!EmitRange(program, offset, next))
                return false;
            offset = next;
            continue;
        }
        if (m_NextAbs32 < abs32Count && m_Abs32Offsets[m_NextAbs32] == offset) {
            // The stored address itself is the label's RVA (the image base is 0).
            uint64_t target = 0;
            if (!ReadField(offset, elf::Field{0, 4}, &target))
                return false;
            if (!program->EmitAbs32(program->FindOrMakeAbs32Label(static_cast<uint32_t>(target))))
                return false;
            offset += 4;
            ++m_NextAbs32;
        } else {
            TypedRVA &location = *m_Rel32Locations[m_NextRel32];
            const uint32_t target = static_cast<uint32_t>(section.addr) +
                                    static_cast<uint32_t>(offset - section.offset) +
                                    location.relative_target();
            if (!location.EmitTo(program, target))
                return false;
            offset += location.OpSize();
            ++m_NextRel32;
        }
    }
    return EmitRange(program, offset, stop);
}

} // namespace ovpatch
