#include "disassembler_win32.h"

#include <algorithm>
#include <cstring>

#include "disassembled_program.h"
#include "enginelog.h"
#include "exe_byte_view.h"
#include "pe_types.h"

namespace ovpatch {

namespace {

bool IsTextSection(const char (&name)[8])
{
    static const char kText[8] = {'.', 't', 'e', 'x', 't', 0, 0, 0};
    // The name compares as a C string: ".text" followed by anything after a
    // terminating NUL still counts.
    return std::memcmp(name, kText, 6) == 0;
}

} // namespace

DisassemblerWin32::DisassemblerWin32(const void *start, size_t length, bool accepts64Bit)
    : Disassembler(start, length), m_Accepts64Bit(accepts64Bit)
{
}

bool DisassemblerWin32::CheckHeader()
{
    const ExeByteView view(start(), static_cast<size_t>(end() - start()));
    const uint64_t size = view.size();

    if (length() < pe::kDosHeaderMinSize)
        return Bad("Too small");
    if (start()[0] != pe::kDosMagic[0] || start()[1] != pe::kDosMagic[1])
        return Bad("Not MZ");

    uint32_t peOffset = 0;
    view.U32(pe::kDosNewHeaderOffset, &peOffset);
    if (peOffset >= size || peOffset == 0 || size - peOffset <= pe::kPeHeaderSize)
        return Bad("Bad offset to PE header");
    if (peOffset % pe::kPeHeaderAlignment != 0)
        return Bad("Misaligned PE header");
    if (std::memcmp(view.At(peOffset), pe::kPeSignature, sizeof(pe::kPeSignature)) != 0)
        return Bad("no PE signature");

    uint16_t numberOfSections = 0;
    view.U16(peOffset + pe::kPeNumberOfSections, &numberOfSections);
    view.U16(peOffset + pe::kPeSizeOfOptionalHeader, &m_SizeOfOptionalHeader);
    m_OptionalHeaderOffset = static_cast<uint64_t>(peOffset) + pe::kPeHeaderSize;
    if (m_OptionalHeaderOffset + m_SizeOfOptionalHeader >= size)
        return Bad("optional header past end of file");
    if (m_SizeOfOptionalHeader < 2)
        return Bad("optional header no magic");

    uint16_t magic = 0;
    view.U16(m_OptionalHeaderOffset + pe::kOptMagic, &magic);
    if (magic == pe::kOptionalMagicPe32)
        m_Is64Bit = false;
    else if (magic == pe::kOptionalMagicPe32Plus)
        m_Is64Bit = true;
    else
        return Bad("unrecognized magic");
    if (m_SizeOfOptionalHeader < (m_Is64Bit ? pe::kOptMinSize64 : pe::kOptMinSize32))
        return Bad("optional header too short");

    // The fixed part of the optional header lies before its end, which was
    // checked against the file above, so these reads cannot fail.
    const uint64_t opt = m_OptionalHeaderOffset;
    if (m_Is64Bit) {
        view.U64(opt + pe::kOptImageBase64, &m_ImageBase);
        view.U32(opt + pe::kOptNumberOfRvaAndSizes64, &m_NumberOfRvaAndSizes);
    } else {
        uint32_t base = 0;
        view.U32(opt + pe::kOptImageBase32, &base);
        m_ImageBase = base;
        view.U32(opt + pe::kOptNumberOfRvaAndSizes32, &m_NumberOfRvaAndSizes);
    }
    view.U32(opt + pe::kOptSizeOfImage, &m_SizeOfImage);

    // All nine are read, so a malformed entry rejects the file even if it is
    // one the disassembler never uses.
    bool directoriesOk = ReadDataDirectory(pe::kDirExport, &m_ExportTable);
    directoriesOk = directoriesOk && ReadDataDirectory(pe::kDirImport, &m_ImportTable);
    directoriesOk = directoriesOk && ReadDataDirectory(pe::kDirResource, &m_ResourceTable);
    directoriesOk = directoriesOk && ReadDataDirectory(pe::kDirException, &m_ExceptionTable);
    directoriesOk =
        directoriesOk && ReadDataDirectory(pe::kDirBaseRelocation, &m_BaseRelocationTable);
    directoriesOk = directoriesOk && ReadDataDirectory(pe::kDirBoundImport, &m_BoundImportTable);
    directoriesOk =
        directoriesOk && ReadDataDirectory(pe::kDirImportAddressTable, &m_ImportAddressTable);
    directoriesOk = directoriesOk && ReadDataDirectory(pe::kDirDelayImport, &m_DelayImportTable);
    directoriesOk =
        directoriesOk && ReadDataDirectory(pe::kDirRuntimeDescriptor, &m_RuntimeDescriptor);
    if (!directoriesOk)
        return Bad("malformed data directory");

    // The section table follows the optional header. A table that runs past
    // the end of the file is rejected here rather than read.
    const uint64_t tableOffset = opt + m_SizeOfOptionalHeader;
    if (!view.Contains(tableOffset,
                       static_cast<uint64_t>(numberOfSections) * pe::kSectionEntrySize))
        return Bad("optional header past end of file");
    m_Sections.clear();
    m_Sections.reserve(numberOfSections);
    bool hasText = false;
    uint32_t detectedLength = 0;
    for (uint32_t i = 0; i < numberOfSections; ++i) {
        const uint64_t entry = tableOffset + static_cast<uint64_t>(i) * pe::kSectionEntrySize;
        Section section;
        std::memcpy(section.name, view.At(entry + pe::kSectionName), pe::kSectionNameSize);
        view.U32(entry + pe::kSectionVirtualSize, &section.virtual_size);
        view.U32(entry + pe::kSectionVirtualAddress, &section.virtual_address);
        view.U32(entry + pe::kSectionSizeOfRawData, &section.size_of_raw_data);
        view.U32(entry + pe::kSectionPointerToRawData, &section.pointer_to_raw_data);
        // Every raw range is read later; one that does not lie inside the file
        // (a truncated download, a forged header) is refused now.
        if (section.size_of_raw_data != 0 &&
            !view.Contains(section.pointer_to_raw_data, section.size_of_raw_data))
            return Bad("section data past end of file");
        detectedLength =
            std::max(detectedLength, section.pointer_to_raw_data + section.size_of_raw_data);
        hasText = hasText || IsTextSection(section.name);
        m_Sections.push_back(section);
    }
    ShrinkLength(detectedLength);
    // Sections with raw data in file order, ties in table order: both walks
    // over the file take them from here.
    m_RawOrder.clear();
    for (size_t i = 0; i < m_Sections.size(); ++i) {
        if (m_Sections[i].size_of_raw_data != 0)
            m_RawOrder.push_back(static_cast<uint32_t>(i));
    }
    std::stable_sort(m_RawOrder.begin(), m_RawOrder.end(), [this](uint32_t a, uint32_t b) {
        return m_Sections[a].pointer_to_raw_data < m_Sections[b].pointer_to_raw_data;
    });

    if (!m_Accepts64Bit && m_Is64Bit)
        return Bad("64 bit executables are not supported by this disassembler");
    if (m_Accepts64Bit && !m_Is64Bit)
        return Bad("32 bit executables are not supported by this disassembler");
    if (!hasText)
        return Bad("Resource-only executables are not yet supported");
    return Good();
}

bool DisassemblerWin32::ReadDataDirectory(int index, DataDirectory *directory) const
{
    // NumberOfRvaAndSizes compares as a signed number: a huge count means no
    // directories at all.
    if (index >= static_cast<int32_t>(m_NumberOfRvaAndSizes)) {
        *directory = DataDirectory();
        return true;
    }
    const ExeByteView view(start(), static_cast<size_t>(end() - start()));
    const uint64_t inHeader = (m_Is64Bit ? pe::kOptDataDirectories64 : pe::kOptDataDirectories32) +
                              static_cast<uint64_t>(index) * pe::kDataDirectoryEntrySize;
    if (inHeader >= m_SizeOfOptionalHeader)
        return false; // number of data directories inconsistent
    const uint64_t offset = m_OptionalHeaderOffset + inHeader;
    if (offset + pe::kDataDirectoryEntrySize >= view.size())
        return false; // data directory outside image
    uint32_t rva = 0;
    uint32_t dirSize = 0;
    view.U32(offset, &rva);
    view.U32(offset + 4, &dirSize);
    if (dirSize > m_SizeOfImage)
        return false; // data directory size too big
    directory->rva = rva;
    directory->size = dirSize;
    return true;
}

uint32_t DisassemblerWin32::RVAToFileOffset(uint32_t rva) const
{
    for (const Section &section : m_Sections) {
        const uint32_t inSection = rva - section.virtual_address;
        if (inSection < section.virtual_size) {
            if (inSection < section.size_of_raw_data)
                return section.pointer_to_raw_data + inSection;
            return kNoFileOffset;
        }
    }
    if (rva == 0 || rva == 2)
        return rva;
    LogError("REACHED UNREACHABLE");
    return kNoFileOffset;
}

uint32_t DisassemblerWin32::FileOffsetToRVA(uint64_t offset) const
{
    for (const Section &section : m_Sections) {
        if (offset >= section.pointer_to_raw_data &&
            offset - section.pointer_to_raw_data < section.size_of_raw_data)
            return section.virtual_address +
                   static_cast<uint32_t>(offset - section.pointer_to_raw_data);
    }
    return 0;
}

int DisassemblerWin32::NextSectionAt(uint64_t offset, size_t *cursor) const
{
    while (*cursor < m_RawOrder.size() &&
           m_Sections[m_RawOrder[*cursor]].pointer_to_raw_data < offset)
        ++*cursor;
    return *cursor < m_RawOrder.size() ? static_cast<int>(m_RawOrder[*cursor]) : -1;
}

bool DisassemblerWin32::ParseBaseRelocations()
{
    m_Abs32Locations.clear();
    const uint32_t relocsSize = m_BaseRelocationTable.size;
    if (relocsSize == 0)
        return true;

    const ExeByteView view(start(), static_cast<size_t>(end() - start()));
    const uint32_t relocsOffset = RVAToFileOffset(m_BaseRelocationTable.rva);
    if (relocsOffset == kNoFileOffset || !view.Contains(relocsOffset, relocsSize))
        return Bad(".relocs outside image");

    const uint32_t acceptedType = m_Is64Bit ? pe::kRelocTypeDir64 : pe::kRelocTypeHighLow;
    const uint64_t relocsEnd = static_cast<uint64_t>(relocsOffset) + relocsSize;
    // A block is a page RVA and a byte size (header included) followed by
    // 16-bit entries, (type << 12) | offset in page. The walk goes on while a
    // whole block header and at least one more byte lie inside the directory;
    // a block itself may run past the directory as long as it stays inside the
    // file.
    uint64_t block = relocsOffset;
    while (block + pe::kRelocBlockHeaderSize < relocsEnd) {
        uint32_t pageRva = 0;
        uint32_t blockSize = 0;
        view.U32(block, &pageRva);
        view.U32(block + 4, &blockSize);
        if (blockSize < pe::kRelocBlockHeaderSize || blockSize % 4 != 0)
            return Bad("unreasonable relocs block");
        const uint64_t blockEnd = block + blockSize;
        if (blockEnd > view.size())
            return Bad(".relocs block outside image");
        for (uint64_t entryOffset = block + pe::kRelocBlockHeaderSize; entryOffset < blockEnd;
             entryOffset += 2) {
            uint16_t entry = 0;
            view.U16(entryOffset, &entry);
            const uint32_t type = entry >> 12;
            if (type == pe::kRelocTypeAbsolute)
                continue;
            if (type != acceptedType)
                return Bad("unknown type of reloc");
            m_Abs32Locations.push_back(pageRva + (entry & 0xFFF));
        }
        block = blockEnd;
    }
    std::sort(m_Abs32Locations.begin(), m_Abs32Locations.end());
    return true;
}

void DisassemblerWin32::ParseRel32Locations()
{
    m_Rel32Locations.clear();
    uint64_t offset = 0;
    size_t cursor = 0;
    for (int i = NextSectionAt(offset, &cursor); i >= 0; i = NextSectionAt(offset, &cursor)) {
        const Section &section = m_Sections[i];
        if (IsTextSection(section.name))
            ParseRel32InSection(section);
        offset = std::max<uint64_t>(offset, static_cast<uint64_t>(section.pointer_to_raw_data) +
                                                section.size_of_raw_data);
    }
    std::sort(m_Rel32Locations.begin(), m_Rel32Locations.end());
}

void DisassemblerWin32::ParseRel32InSection(const Section &section)
{
    // The raw range was checked against the file in CheckHeader.
    const uint8_t *const sectionStart = start() + section.pointer_to_raw_data;
    const uint8_t *const sectionEnd = sectionStart + section.size_of_raw_data;
    const uint32_t startRva = FileOffsetToRVA(section.pointer_to_raw_data);
    const uint32_t endRva = startRva + section.virtual_size;
    const uint32_t relocsRva = m_BaseRelocationTable.rva;
    const uint32_t relocsSize = m_BaseRelocationTable.size;

    // No candidate field in this section lies below startRva + 1, so absolute
    // fields below startRva - 2 can never overlap one.
    auto abs32 = std::lower_bound(m_Abs32Locations.begin(), m_Abs32Locations.end(),
                                  startRva > 2 ? startRva - 2 : 0);
    const uint8_t *p = sectionStart;
    while (p < sectionEnd) {
        const uint32_t rva = startRva + static_cast<uint32_t>(p - sectionStart);
        if (rva == relocsRva && relocsSize != 0) {
            if (static_cast<size_t>(sectionEnd - p) <= relocsSize)
                break;
            p += relocsSize;
            continue;
        }

        // Candidate instruction forms, a later match replacing an earlier one.
        // Relative call/jump and long conditional jumps (other than JP/JNP,
        // which compilers rarely emit) must stay inside this section; the
        // 64-bit RIP-relative forms (call/jmp through a pointer, mov and lea
        // of an address) may point anywhere in the image.
        const size_t left = static_cast<size_t>(sectionEnd - p);
        const uint8_t *field = nullptr;
        bool ripRelative = false;
        if (left >= 5 && (p[0] & 0xFE) == 0xE8)
            field = p + 1;
        if (left >= 6) {
            if (p[0] == 0x0F && (p[1] & 0xF0) == 0x80 && p[1] != 0x8A && p[1] != 0x8B) {
                field = p + 2;
            } else if (m_Is64Bit && p[0] == 0xFF && (p[1] == 0x15 || p[1] == 0x25)) {
                field = p + 2;
                ripRelative = true;
            }
        }
        if (m_Is64Bit && left >= 7 && (p[0] & 0xFE) == 0x48 && (p[1] == 0x8D || p[1] == 0x8B) &&
            (p[2] & 0xC7) == 0x05) {
            field = p + 3;
            ripRelative = true;
        }

        if (field != nullptr) {
            const uint32_t fieldRva = startRva + static_cast<uint32_t>(field - sectionStart);
            // An absolute address field overlapping the candidate wins; the
            // scan resumes right after it.
            while (abs32 != m_Abs32Locations.end() && *abs32 < fieldRva - 3)
                ++abs32;
            if (abs32 != m_Abs32Locations.end() && *abs32 < fieldRva + 4) {
                const uint32_t skip = *abs32 + 4 - rva;
                if (static_cast<size_t>(sectionEnd - p) <= skip)
                    break;
                p += skip;
                continue;
            }
            const uint32_t target = fieldRva + 4 + static_cast<uint32_t>(ExeByteView::Le32(field));
            if (target < m_SizeOfImage &&
                (ripRelative || (startRva <= target && target < endRva))) {
                m_Rel32Locations.push_back(fieldRva);
                p = field + 4;
                continue;
            }
        }
        p += 1;
    }
}

bool DisassemblerWin32::BuildProgram(DisassembledProgram *program)
{
    if (failure_reason() != nullptr)
        return false;
    program->set_image_base(m_Is64Bit ? m_ImageBase : static_cast<uint32_t>(m_ImageBase));
    if (!ParseBaseRelocations())
        return false;
    ParseRel32Locations();

    uint64_t offset = 0;
    size_t cursor = 0;
    while (offset < length()) {
        const int i = NextSectionAt(offset, &cursor);
        if (i < 0)
            break;
        const Section &section = m_Sections[i];
        if (section.pointer_to_raw_data > offset &&
            !program->EmitBytes(start() + offset, section.pointer_to_raw_data - offset))
            return false;
        const uint64_t sectionEnd =
            static_cast<uint64_t>(section.pointer_to_raw_data) + section.size_of_raw_data;
        if (!EmitFileRegion(program, section.pointer_to_raw_data, sectionEnd))
            return false;
        offset = sectionEnd;
    }
    return program->AssignLabelIndexes();
}

bool DisassemblerWin32::EmitFileRegion(DisassembledProgram *program, uint64_t startOffset,
                                       uint64_t endOffset)
{
    const uint32_t relocsRva = m_BaseRelocationTable.rva;
    const uint32_t relocsSize = m_BaseRelocationTable.size;
    const uint32_t imageBase32 = static_cast<uint32_t>(m_ImageBase);
    const uint32_t startRva = FileOffsetToRVA(startOffset);
    if (!program->EmitOrigin(startRva))
        return false;

    auto abs32 = std::lower_bound(m_Abs32Locations.begin(), m_Abs32Locations.end(), startRva);
    auto rel32 = std::lower_bound(m_Rel32Locations.begin(), m_Rel32Locations.end(), startRva);
    uint64_t p = startOffset;
    while (p < endOffset) {
        const uint32_t rva = startRva + static_cast<uint32_t>(p - startOffset);
        // The relocation table is rebuilt from the abs32 fields on assembly,
        // so its bytes are replaced by one instruction.
        if (rva == relocsRva) {
            if (!program->EmitMakeRelocs(INSN_MAKE_PE_RELOCS))
                return false;
            if (relocsSize != 0) {
                p += relocsSize;
                continue;
            }
        }
        // A field needs its four bytes inside the region; one that straddles
        // the region's end (only a forged relocation can place it there) is
        // left as plain bytes.
        const bool fieldFits = endOffset - p >= 4;

        while (abs32 != m_Abs32Locations.end() && *abs32 < rva)
            ++abs32;
        if (fieldFits && abs32 != m_Abs32Locations.end() && *abs32 == rva) {
            // For DIR64 fields only the low four bytes are the label; the high
            // four follow as plain bytes.
            const uint32_t target = ExeByteView::Le32(start() + p) - imageBase32;
            if (!program->EmitAbs32(program->FindOrMakeAbs32Label(target)))
                return false;
            p += 4;
            continue;
        }

        while (rel32 != m_Rel32Locations.end() && *rel32 < rva)
            ++rel32;
        if (fieldFits && rel32 != m_Rel32Locations.end() && *rel32 == rva) {
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

} // namespace ovpatch
