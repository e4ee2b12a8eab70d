#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "disassembler.h"

namespace ovpatch {

class DisassembledProgram;

// Shared reader of PE images (PE32 and PE32+). Absolute address fields come
// from the base relocation table, relative ones from a scan of the ".text"
// section for call, jump and (64-bit) RIP-relative instruction forms. The
// width-specific classes below only choose which optional-header magic and
// which relocation type they accept.
class DisassemblerWin32 : public Disassembler
{
public:
    static constexpr uint32_t kNoFileOffset = 0xFFFFFFFFu;

    bool CheckHeader() override;
    bool BuildProgram(DisassembledProgram *program) override;

    // File offset of rva, or kNoFileOffset. The first section (table order)
    // whose virtual range holds rva decides; RVAs 0 and 2 outside every section
    // map to themselves.
    uint32_t RVAToFileOffset(uint32_t rva) const;

    // Fills abs32_locations() from the base relocation directory, sorted.
    // False (with failure_reason set) for a malformed table.
    bool ParseBaseRelocations();
    // Fills rel32_locations() by scanning the ".text" sections, sorted.
    void ParseRel32Locations();

    const std::vector<uint32_t> &abs32_locations() const { return m_Abs32Locations; }
    const std::vector<uint32_t> &rel32_locations() const { return m_Rel32Locations; }
    uint64_t image_base() const { return m_ImageBase; }

protected:
    DisassemblerWin32(const void *start, size_t length, bool accepts64Bit);

private:
    struct Section
    {
        char name[8];
        uint32_t virtual_size;
        uint32_t virtual_address;
        uint32_t size_of_raw_data;
        uint32_t pointer_to_raw_data;
    };
    struct DataDirectory
    {
        uint32_t rva = 0;
        uint32_t size = 0;
    };

    bool ReadDataDirectory(int index, DataDirectory *directory) const;
    // RVA of a file offset through the section whose raw range holds it; 0
    // when none does.
    uint32_t FileOffsetToRVA(uint64_t offset) const;
    // Index of the section with raw data whose PointerToRawData is the
    // smallest at or after offset (ties to the earlier entry), or -1. cursor
    // walks m_RawOrder; offsets passed with one cursor must not decrease.
    int NextSectionAt(uint64_t offset, size_t *cursor) const;
    void ParseRel32InSection(const Section &section);
    bool EmitFileRegion(DisassembledProgram *program, uint64_t startOffset, uint64_t endOffset);

    bool m_Accepts64Bit;
    bool m_Is64Bit = false;
    uint16_t m_SizeOfOptionalHeader = 0;
    uint64_t m_ImageBase = 0;
    uint32_t m_SizeOfImage = 0;
    uint32_t m_NumberOfRvaAndSizes = 0;
    uint64_t m_OptionalHeaderOffset = 0;
    std::vector<Section> m_Sections;
    std::vector<uint32_t> m_RawOrder;
    DataDirectory m_ExportTable;
    DataDirectory m_ImportTable;
    DataDirectory m_ResourceTable;
    DataDirectory m_ExceptionTable;
    DataDirectory m_BaseRelocationTable;
    DataDirectory m_BoundImportTable;
    DataDirectory m_ImportAddressTable;
    DataDirectory m_DelayImportTable;
    DataDirectory m_RuntimeDescriptor;
    std::vector<uint32_t> m_Abs32Locations;
    std::vector<uint32_t> m_Rel32Locations;
};

// PE32 images (optional-header magic 0x10B), HIGHLOW relocations.
class DisassemblerWin32X86 final : public DisassemblerWin32
{
public:
    DisassemblerWin32X86(const void *start, size_t length) : DisassemblerWin32(start, length, false)
    {
    }
    ExecutableType kind() const override { return EXE_WIN_32_X86; }
};

// PE32+ images (magic 0x20B), DIR64 relocations.
class DisassemblerWin32X64 final : public DisassemblerWin32
{
public:
    DisassemblerWin32X64(const void *start, size_t length) : DisassemblerWin32(start, length, true)
    {
    }
    ExecutableType kind() const override { return EXE_WIN_32_X64; }
};

} // namespace ovpatch
