#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "disassembler.h"
#include "elf_types.h"
#include "nothrow_vector.h"

// The part of the ELF disassemblers that both classes (32 and 64 bits) and all
// three machines share: the header check, the extent, address mapping,
// relocation collection and the walk over the sections that emits the
// program. The machines add their relocation entry rule, their relocation
// section rule and their scan for relative branch fields.
namespace ovpatch {

class DisassembledProgram;

class DisassemblerElf : public Disassembler
{
public:
    // One relative 32-bit field (or ARM branch) found by a scan.
    class TypedRVA
    {
    public:
        explicit TypedRVA(uint32_t rva) : m_Rva(rva) {}
        virtual ~TypedRVA() = default;
        TypedRVA(const TypedRVA &) = delete;
        TypedRVA &operator=(const TypedRVA &) = delete;

        // Reads the field at `field` (OpSize() bytes are there) and sets
        // relative_target; false when the field cannot be decoded.
        virtual bool DecodeTarget(const uint8_t *field) = 0;
        virtual bool EmitTo(DisassembledProgram *program, uint32_t targetRva) = 0;
        virtual uint16_t OpSize() const = 0;

        uint32_t rva() const { return m_Rva; }
        uint32_t relative_target() const { return m_RelativeTarget; }
        void set_relative_target(uint32_t target) { m_RelativeTarget = target; }
        uint64_t file_offset() const { return m_FileOffset; }
        void set_file_offset(uint64_t offset) { m_FileOffset = offset; }

    private:
        uint32_t m_Rva;
        uint32_t m_RelativeTarget = 0;
        uint64_t m_FileOffset = ~uint64_t(0);
    };

    // Header fields widened to 64 bits, whatever the class.
    struct SectionHeader
    {
        uint32_t type;
        uint64_t addr, offset, size, entsize;
    };
    struct ProgramHeader
    {
        uint32_t type;
        uint64_t offset, vaddr, filesz, memsz;
    };

    bool CheckHeader() override;
    bool BuildProgram(DisassembledProgram *program) override;

    // The file offset of rva through the first program header that maps it
    // with file bytes; false when none does.
    bool RvaToFileOffset(uint32_t rva, uint64_t *offset) const;
    // True when a PT_LOAD segment covers rva.
    bool IsValidTarget(uint32_t rva) const;

    const NoThrowVector<uint32_t> &abs32_locations() const { return m_Abs32Locations; }
    const std::vector<std::unique_ptr<TypedRVA>> &rel32_locations() const
    {
        return m_Rel32Locations;
    }

protected:
    DisassemblerElf(const void *data, size_t length, const elf::ClassLayout &layout);

    virtual uint16_t MachineCode() const = 0;
    // The RVA an absolute relocation entry patches; false for entries that are
    // not the machine's relative relocation against symbol 0.
    virtual bool RelocationToRva(uint64_t rOffset, uint64_t rInfo, uint32_t *rva) const = 0;
    virtual bool ParseRelocationSection(const SectionHeader &section,
                                        DisassembledProgram *program) = 0;
    virtual bool FindRel32InSection(const SectionHeader &section) = 0;

    // Emits [from, to) of the input as plain bytes; nothing when from >= to,
    // false when the range leaves the executable.
    bool EmitRange(DisassembledProgram *program, uint64_t from, uint64_t to) const;
    // Reads relocation entry i of section (entries are laid out with the
    // class's entry size); false when it lies outside the executable.
    bool ReadRelocation(const SectionHeader &section, uint64_t i, uint64_t *rOffset,
                        uint64_t *rInfo) const;
    // Entries the section declares: sh_size / sh_entsize, 0 without entsize.
    static uint64_t EntryCount(const SectionHeader &section);
    // Takes ownership of a scanned location; false when memory runs out.
    bool AddRel32Location(std::unique_ptr<TypedRVA> location);
    // Records a scanned field at rva whose displacement gives relative; false
    // when memory runs out.
    template <class Location> bool AddRel32At(uint32_t rva, uint32_t relative)
    {
        std::unique_ptr<TypedRVA> location(new (std::nothrow) Location(rva));
        if (!location)
            return false;
        location->set_relative_target(relative);
        return AddRel32Location(std::move(location));
    }

    const elf::ClassLayout &layout() const { return m_Layout; }

private:
    bool ReadField(uint64_t recordOffset, elf::Field field, uint64_t *value) const;
    bool ReadSectionHeaders(uint64_t shoff, uint64_t shnum);
    bool ReadProgramHeaders(uint64_t phoff, uint64_t phnum);
    bool SectionsInBounds() const;
    bool CollectAbs32Locations();
    bool CollectRel32Locations();
    bool EmitSections(DisassembledProgram *program);
    bool EmitProgbitsSection(const SectionHeader &section, DisassembledProgram *program);

    const elf::ClassLayout &m_Layout;
    NoThrowVector<SectionHeader> m_Sections{16};
    NoThrowVector<ProgramHeader> m_ProgramHeaders{8};
    uint64_t m_SectionNamesOffset = 0;

    NoThrowVector<uint32_t> m_Abs32Locations;
    // File offsets of m_Abs32Locations, filled before emission.
    NoThrowVector<uint64_t> m_Abs32Offsets;
    std::vector<std::unique_ptr<TypedRVA>> m_Rel32Locations;
    // Emission cursors into the two sorted lists.
    size_t m_NextAbs32 = 0;
    size_t m_NextRel32 = 0;
};

class DisassemblerElf32 : public DisassemblerElf
{
protected:
    DisassemblerElf32(const void *data, size_t length) : DisassemblerElf(data, length, elf::kElf32)
    {
    }
};

class DisassemblerElf64 : public DisassemblerElf
{
protected:
    DisassemblerElf64(const void *data, size_t length) : DisassemblerElf(data, length, elf::kElf64)
    {
    }
};

} // namespace ovpatch
