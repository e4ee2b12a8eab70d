#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "disassembler.h"

namespace ovpatch {

class DisassembledProgram;

// Reader of thin x86 and x86-64 Mach-O files. Mach-O carries no relocation
// table that could be rebuilt, so a program holds only relative fields, found
// by scanning the code sections; every address is an RVA, the virtual address
// minus the lowest recorded segment address.
class DisassemblerMacho : public Disassembler
{
public:
    static constexpr uint32_t kNoFileOffset = 0xFFFFFFFFu;

    DisassemblerMacho(const void *start, size_t length);

    // EXE_MACHO_X86 or EXE_MACHO_X64 once the header was read, else
    // EXE_UNKNOWN.
    ExecutableType kind() const override { return m_Kind; }
    bool CheckHeader() override;
    bool BuildProgram(DisassembledProgram *program) override;

    // File offset of rva through the first segment whose virtual range holds
    // it, or kNoFileOffset (also for the part of a segment beyond its file
    // data).
    uint32_t RVAToFileOffset(uint32_t rva) const;

    // Fills rel32_locations() from the code sections, sorted.
    void ParseRel32Locations();
    const std::vector<uint32_t> &rel32_locations() const { return m_Rel32Locations; }

    struct SegmentRecord
    {
        uint64_t vmaddr;
        uint32_t vmsize;
        uint32_t fileoff;
        uint32_t filesize;
    };
    struct CodeSectionRecord
    {
        uint64_t addr;
        uint32_t size;
        uint32_t offset;
    };
    const std::vector<SegmentRecord> &segments() const { return m_Segments; }
    const std::vector<CodeSectionRecord> &code_sections() const { return m_CodeSections; }

private:
    bool ParseSegment32(uint64_t offset, uint32_t cmdsize);
    bool ParseSegment64(uint64_t offset, uint32_t cmdsize);
    bool RecordSegment(const SegmentRecord &segment);
    bool AddCodeSection(const SegmentRecord &segment, uint64_t addr, uint64_t size,
                        uint32_t offset);
    // RVA of a file offset through the first segment whose file range holds
    // it; 0 when none does.
    uint32_t FileOffsetToRVA(uint64_t offset) const;
    bool IsInSegment(uint32_t rva) const;
    bool EmitFileRegion(DisassembledProgram *program, uint64_t startOffset, uint64_t endOffset);

    ExecutableType m_Kind = EXE_UNKNOWN;
    std::vector<SegmentRecord> m_Segments;
    std::vector<CodeSectionRecord> m_CodeSections;
    uint64_t m_LargestSegmentEnd = 0;
    std::vector<uint32_t> m_Rel32Locations;
    // Merged, sorted [start, end) virtual ranges of the segments.
    std::vector<std::pair<uint64_t, uint64_t>> m_SegmentRanges;
};

// One executable inside a universal Mach-O file.
struct MachoSlice
{
    uint32_t cputype = 0;
    uint32_t cpusubtype = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
};

// Lists the slices of a universal (fat) Mach-O file in header order. False,
// with slices left empty, when the data is not a universal file or when the
// slice table or a slice does not lie inside the data. Whether a slice is an
// executable this engine handles is left to detection, run over the slice's
// bytes.
bool ListUniversalMachoSlices(const void *data, size_t length, std::vector<MachoSlice> *slices);

} // namespace ovpatch
