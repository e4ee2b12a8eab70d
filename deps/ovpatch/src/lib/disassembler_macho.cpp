#include "disassembler_macho.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "disassembled_program.h"
#include "enginelog.h"
#include "exe_byte_view.h"
#include "macho_types.h"

namespace ovpatch {

DisassemblerMacho::DisassemblerMacho(const void *start, size_t length) : Disassembler(start, length)
{
}

bool DisassemblerMacho::CheckHeader()
{
    const ExeByteView view(start(), static_cast<size_t>(end() - start()));
    m_Segments.clear();
    m_CodeSections.clear();
    m_LargestSegmentEnd = 0;
    if (length() < macho::kHeaderMinSize)
        return Bad("Too small");

    uint32_t magic = 0;
    uint32_t cputype = 0;
    view.U32(macho::kHeaderMagic, &magic);
    view.U32(macho::kHeaderCpuType, &cputype);
    uint32_t headerSize = 0;
    if (magic == macho::kMagic64) {
        if (cputype != macho::kCpuTypeX86_64)
            return Bad("unsupported cpu type");
        m_Kind = EXE_MACHO_X64;
        headerSize = macho::kHeaderSize64;
    } else if (magic == macho::kMagic32) {
        if (cputype != macho::kCpuTypeX86)
            return Bad("unsupported cpu type");
        m_Kind = EXE_MACHO_X86;
        headerSize = macho::kHeaderSize32;
    } else {
        return Bad("Unknown magic type");
    }

    uint32_t filetype = 0;
    view.U32(macho::kHeaderFileType, &filetype);
    if (filetype > macho::kMaxAcceptedFileType ||
        ((macho::kAcceptedFileTypes >> filetype) & 1) == 0)
        return Bad("Unsupported filetype in header");

    uint32_t ncmds = 0;
    view.U32(macho::kHeaderNcmds, &ncmds);
    uint64_t command = headerSize;
    for (uint32_t i = 0; i < ncmds; ++i) {
        // The command header itself must be inside the file before its size
        // can be trusted, and a size below the header's own would make the
        // walk stand still.
        uint32_t cmd = 0;
        uint32_t cmdsize = 0;
        if (!view.U32(command + macho::kLoadCommandCmd, &cmd) ||
            !view.U32(command + macho::kLoadCommandSize, &cmdsize) ||
            cmdsize < macho::kLoadCommandHeaderSize || !view.Contains(command, cmdsize))
            return Bad("file to small in load commands");
        if (cmd == macho::kLcSegment64) {
            if (!ParseSegment64(command, cmdsize))
                return false;
        } else if (cmd == macho::kLcSegment) {
            if (!ParseSegment32(command, cmdsize))
                return false;
        }
        command += cmdsize;
    }

    if (!m_Segments.empty()) {
        uint64_t base = m_Segments.front().vmaddr;
        for (const SegmentRecord &segment : m_Segments)
            base = std::min(base, segment.vmaddr);
        for (SegmentRecord &segment : m_Segments) {
            segment.vmaddr -= base;
            if (segment.vmaddr > 0xFFFFFFFFu - segment.vmsize)
                return Bad("overflow");
        }
        for (CodeSectionRecord &section : m_CodeSections)
            section.addr -= base;
    }

    if (m_CodeSections.empty())
        return Bad("Resource-only executables are not yet supported");
    std::stable_sort(
        m_CodeSections.begin(), m_CodeSections.end(),
        [](const CodeSectionRecord &a, const CodeSectionRecord &b) { return a.offset < b.offset; });
    // Code is read from the file up to the largest segment end; a section whose
    // bytes reach past it is refused rather than read beyond the program.
    for (const CodeSectionRecord &section : m_CodeSections) {
        if (static_cast<uint64_t>(section.offset) + section.size > m_LargestSegmentEnd)
            return Bad("section larger than segment");
    }
    ShrinkLength(static_cast<size_t>(m_LargestSegmentEnd));
    return Good();
}

bool DisassemblerMacho::RecordSegment(const SegmentRecord &segment)
{
    m_Segments.push_back(segment);
    const uint64_t segmentEnd = static_cast<uint64_t>(segment.fileoff) + segment.filesize;
    m_LargestSegmentEnd = std::max(m_LargestSegmentEnd, segmentEnd);
    if (m_LargestSegmentEnd > length())
        return Bad("segment too large");
    return true;
}

bool DisassemblerMacho::AddCodeSection(const SegmentRecord &segment, uint64_t addr, uint64_t size,
                                       uint32_t offset)
{
    if (addr < segment.vmaddr)
        return Bad("section larger than segment");
    const uint64_t inSegment = addr - segment.vmaddr;
    if (inSegment > segment.vmsize || size > segment.vmsize - inSegment)
        return Bad("section larger than segment");
    m_CodeSections.push_back({addr, static_cast<uint32_t>(size), offset});
    return true;
}

bool DisassemblerMacho::ParseSegment32(uint64_t offset, uint32_t cmdsize)
{
    if (m_Kind != EXE_MACHO_X86)
        return Bad("LC_SEGMENT not supported");
    if (cmdsize < macho::kSegment32Size)
        return Bad("bad LC_SEGMENT");
    // The whole command lies inside the file (checked by the caller).
    const ExeByteView view(start(), static_cast<size_t>(end() - start()));
    uint32_t vmaddr = 0;
    SegmentRecord segment{};
    view.U32(offset + macho::kSegment32VmAddr, &vmaddr);
    view.U32(offset + macho::kSegment32VmSize, &segment.vmsize);
    view.U32(offset + macho::kSegment32FileOff, &segment.fileoff);
    view.U32(offset + macho::kSegment32FileSize, &segment.filesize);
    segment.vmaddr = vmaddr;
    if (!RecordSegment(segment))
        return false;

    uint32_t nsects = 0;
    view.U32(offset + macho::kSegment32NSects, &nsects);
    if (cmdsize < macho::kSegment32Size + static_cast<uint64_t>(nsects) * macho::kSection32Size)
        return Bad("sections too small");
    for (uint32_t i = 0; i < nsects; ++i) {
        const uint64_t section =
            offset + macho::kSegment32Size + static_cast<uint64_t>(i) * macho::kSection32Size;
        uint32_t flags = 0;
        view.U32(section + macho::kSection32Flags, &flags);
        if ((flags & macho::kCodeSectionMask) != macho::kCodeSectionValue)
            continue;
        uint32_t addr = 0;
        uint32_t size = 0;
        uint32_t fileOffset = 0;
        view.U32(section + macho::kSection32Addr, &addr);
        view.U32(section + macho::kSection32Size_, &size);
        view.U32(section + macho::kSection32Offset, &fileOffset);
        if (!AddCodeSection(m_Segments.back(), addr, size, fileOffset))
            return false;
    }
    return true;
}

bool DisassemblerMacho::ParseSegment64(uint64_t offset, uint32_t cmdsize)
{
    if (m_Kind != EXE_MACHO_X64)
        return Bad("LC_SEGMENT_64 not supported");
    if (cmdsize < macho::kSegment64Size)
        return Bad("bad LC_SEGMENT_64");
    const ExeByteView view(start(), static_cast<size_t>(end() - start()));
    uint32_t nsects = 0;
    view.U32(offset + macho::kSegment64NSects, &nsects);
    // Segments without sections (the zero page, the link-edit data) carry no
    // code and stay out of the program and of its length.
    if (nsects == 0)
        return true;

    uint64_t vmaddr = 0;
    uint64_t vmsize = 0;
    uint64_t fileoff = 0;
    uint64_t filesize = 0;
    view.U64(offset + macho::kSegment64VmAddr, &vmaddr);
    view.U64(offset + macho::kSegment64VmSize, &vmsize);
    view.U64(offset + macho::kSegment64FileOff, &fileoff);
    view.U64(offset + macho::kSegment64FileSize, &filesize);
    if (vmsize > 0xFFFFFFFFu || fileoff > 0xFFFFFFFFu || filesize > 0xFFFFFFFFu)
        return Bad("overflow");
    const SegmentRecord segment{vmaddr, static_cast<uint32_t>(vmsize),
                                static_cast<uint32_t>(fileoff), static_cast<uint32_t>(filesize)};
    if (!RecordSegment(segment))
        return false;

    if (cmdsize < macho::kSegment64Size + static_cast<uint64_t>(nsects) * macho::kSection64Size)
        return Bad("sections too small");
    for (uint32_t i = 0; i < nsects; ++i) {
        const uint64_t section =
            offset + macho::kSegment64Size + static_cast<uint64_t>(i) * macho::kSection64Size;
        uint32_t flags = 0;
        view.U32(section + macho::kSection64Flags, &flags);
        if ((flags & macho::kCodeSectionMask) != macho::kCodeSectionValue)
            continue;
        uint64_t addr = 0;
        uint64_t size = 0;
        uint32_t fileOffset = 0;
        view.U64(section + macho::kSection64Addr, &addr);
        view.U64(section + macho::kSection64Size_, &size);
        view.U32(section + macho::kSection64Offset, &fileOffset);
        if (size > 0xFFFFFFFFu)
            return Bad("overflow");
        if (!AddCodeSection(segment, addr, size, fileOffset))
            return false;
    }
    return true;
}

uint32_t DisassemblerMacho::RVAToFileOffset(uint32_t rva) const
{
    for (const SegmentRecord &segment : m_Segments) {
        if (segment.vmaddr <= rva && rva < segment.vmaddr + segment.vmsize) {
            const uint64_t inSegment = rva - segment.vmaddr;
            if (inSegment < segment.filesize)
                return static_cast<uint32_t>(segment.fileoff + inSegment);
            return kNoFileOffset;
        }
    }
    LogWarning("RVAToFileOffset reached invalid point");
    return kNoFileOffset;
}

uint32_t DisassemblerMacho::FileOffsetToRVA(uint64_t offset) const
{
    for (const SegmentRecord &segment : m_Segments) {
        if (offset >= segment.fileoff && offset - segment.fileoff < segment.filesize)
            return static_cast<uint32_t>(segment.vmaddr + (offset - segment.fileoff));
    }
    return 0;
}

bool DisassemblerMacho::IsInSegment(uint32_t rva) const
{
    // The last merged range starting at or below rva is the only one that
    // can hold it.
    auto after = std::upper_bound(m_SegmentRanges.begin(), m_SegmentRanges.end(), rva,
                                  [](uint32_t value, const std::pair<uint64_t, uint64_t> &range) {
                                      return value < range.first;
                                  });
    return after != m_SegmentRanges.begin() && rva < std::prev(after)->second;
}

void DisassemblerMacho::ParseRel32Locations()
{
    m_Rel32Locations.clear();
    // Branch targets are checked against the union of the segments' virtual
    // ranges, merged and sorted once so that each check is a binary search
    // however many segments a file declares.
    m_SegmentRanges.clear();
    for (const SegmentRecord &segment : m_Segments) {
        if (segment.vmsize != 0)
            m_SegmentRanges.emplace_back(segment.vmaddr, segment.vmaddr + segment.vmsize);
    }
    std::sort(m_SegmentRanges.begin(), m_SegmentRanges.end());
    size_t merged = 0;
    for (size_t i = 0; i < m_SegmentRanges.size(); ++i) {
        if (merged > 0 && m_SegmentRanges[i].first <= m_SegmentRanges[merged - 1].second)
            m_SegmentRanges[merged - 1].second =
                std::max(m_SegmentRanges[merged - 1].second, m_SegmentRanges[i].second);
        else
            m_SegmentRanges[merged++] = m_SegmentRanges[i];
    }
    m_SegmentRanges.resize(merged);

    const bool is64Bit = m_Kind == EXE_MACHO_X64;
    for (const CodeSectionRecord &section : m_CodeSections) {
        // CheckHeader placed every code section inside the file.
        const uint8_t *const sectionStart = start() + section.offset;
        const uint8_t *const sectionEnd = sectionStart + section.size;
        const uint32_t startRva = FileOffsetToRVA(section.offset);
        const uint8_t *p = sectionStart;
        while (p < sectionEnd) {
            // The candidate forms of the x86-64 PE scan, a later match
            // replacing an earlier one; 32-bit code has no RIP-relative forms.
            const size_t left = static_cast<size_t>(sectionEnd - p);
            const uint8_t *field = nullptr;
            if (left >= 5 && (p[0] & 0xFE) == 0xE8)
                field = p + 1;
            if (left >= 6) {
                if (p[0] == 0x0F && (p[1] & 0xF0) == 0x80 && p[1] != 0x8A && p[1] != 0x8B)
                    field = p + 2;
                else if (is64Bit && p[0] == 0xFF && (p[1] == 0x15 || p[1] == 0x25))
                    field = p + 2;
            }
            if (is64Bit && left >= 7 && (p[0] & 0xFE) == 0x48 && (p[1] == 0x8D || p[1] == 0x8B) &&
                (p[2] & 0xC7) == 0x05)
                field = p + 3;
            if (field != nullptr) {
                const uint32_t fieldRva = startRva + static_cast<uint32_t>(field - sectionStart);
                const uint32_t target = fieldRva + 4 + ExeByteView::Le32(field);
                if (IsInSegment(target)) {
                    m_Rel32Locations.push_back(fieldRva);
                    p = field + 4;
                    continue;
                }
            }
            p += 1;
        }
    }
    std::sort(m_Rel32Locations.begin(), m_Rel32Locations.end());
}

bool DisassemblerMacho::BuildProgram(DisassembledProgram *program)
{
    if (failure_reason() != nullptr)
        return false;
    program->set_image_base(0);
    ParseRel32Locations();

    // Code sections are taken in file order; one that starts inside an
    // earlier one is passed over. Advancing the index as well as the offset
    // keeps an empty section from being chosen again and again.
    uint64_t offset = 0;
    size_t next = 0;
    while (offset < length()) {
        while (next < m_CodeSections.size() && m_CodeSections[next].offset < offset)
            ++next;
        if (next == m_CodeSections.size())
            return program->EmitBytes(start() + offset, length() - offset) &&
                   program->AssignLabelIndexes();
        const CodeSectionRecord &section = m_CodeSections[next++];
        if (section.offset > offset &&
            !program->EmitBytes(start() + offset, section.offset - offset))
            return false;
        const uint64_t sectionEnd = static_cast<uint64_t>(section.offset) + section.size;
        if (!EmitFileRegion(program, section.offset, sectionEnd))
            return false;
        offset = sectionEnd;
    }
    return program->AssignLabelIndexes();
}

bool DisassemblerMacho::EmitFileRegion(DisassembledProgram *program, uint64_t startOffset,
                                       uint64_t endOffset)
{
    const uint32_t startRva = FileOffsetToRVA(startOffset);
    if (!program->EmitOrigin(startRva))
        return false;
    auto rel32 = std::lower_bound(m_Rel32Locations.begin(), m_Rel32Locations.end(), startRva);
    uint64_t p = startOffset;
    while (p < endOffset) {
        const uint32_t rva = startRva + static_cast<uint32_t>(p - startOffset);
        while (rel32 != m_Rel32Locations.end() && *rel32 < rva)
            ++rel32;
        if (endOffset - p >= 4 && rel32 != m_Rel32Locations.end() && *rel32 == rva) {
            const uint32_t target = rva + 4 + ExeByteView::Le32(start() + p);
            if (!program->EmitRel32(program->FindOrMakeRel32Label(target)))
                return false;
            p += 4;
            continue;
        }
        if (!program->EmitByte(start()[p]))
            return false;
        p += 1;
    }
    return true;
}

bool ListUniversalMachoSlices(const void *data, size_t length, std::vector<MachoSlice> *slices)
{
    slices->clear();
    const ExeByteView view(static_cast<const uint8_t *>(data), length);
    uint32_t magic = 0;
    uint32_t count = 0;
    if (!view.U32BE(0, &magic) || !view.U32BE(4, &count))
        return false;
    if (magic != macho::kFatMagic && magic != macho::kFatMagic64)
        return false;
    if (count == 0 || count > macho::kFatMaxSlices)
        return false;
    const bool wide = magic == macho::kFatMagic64;
    const uint64_t recordSize = wide ? macho::kFatArch64Size : macho::kFatArchSize;
    std::vector<MachoSlice> found;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t record = macho::kFatHeaderSize + i * recordSize;
        MachoSlice slice;
        bool ok = view.U32BE(record, &slice.cputype) && view.U32BE(record + 4, &slice.cpusubtype);
        if (wide) {
            ok =
                ok && view.U64BE(record + 8, &slice.offset) && view.U64BE(record + 16, &slice.size);
        } else {
            uint32_t offset = 0;
            uint32_t size = 0;
            ok = ok && view.U32BE(record + 8, &offset) && view.U32BE(record + 12, &size);
            slice.offset = offset;
            slice.size = size;
        }
        if (!ok || !view.Contains(slice.offset, slice.size))
            return false;
        found.push_back(slice);
    }
    *slices = std::move(found);
    return true;
}

} // namespace ovpatch
