#pragma once

#include <cstdint>

// Offsets and constants of the PE/COFF layout that the Windows disassemblers
// read. All fields are little-endian. Offsets are relative to the start of the
// structure named in the constant's prefix.
namespace ovpatch {
namespace pe {

// DOS header.
constexpr uint32_t kDosHeaderMinSize = 64;
constexpr uint8_t kDosMagic[2] = {'M', 'Z'};
constexpr uint32_t kDosNewHeaderOffset = 60; // e_lfanew, u32

// PE signature and COFF file header; the file header follows the four
// signature bytes "PE\0\0".
constexpr uint8_t kPeSignature[4] = {'P', 'E', 0, 0};
constexpr uint32_t kPeHeaderSize = 24;           // signature + COFF file header
constexpr uint32_t kPeNumberOfSections = 6;      // u16
constexpr uint32_t kPeSizeOfOptionalHeader = 20; // u16
constexpr uint32_t kPeHeaderAlignment = 8;       // e_lfanew must be a multiple of this

// Optional header.
constexpr uint16_t kOptionalMagicPe32 = 0x10B;
constexpr uint16_t kOptionalMagicPe32Plus = 0x20B;
constexpr uint32_t kOptMagic = 0;                   // u16
constexpr uint32_t kOptImageBase32 = 28;            // u32, PE32
constexpr uint32_t kOptImageBase64 = 24;            // u64, PE32+
constexpr uint32_t kOptSizeOfImage = 56;            // u32, both widths
constexpr uint32_t kOptNumberOfRvaAndSizes32 = 92;  // u32
constexpr uint32_t kOptNumberOfRvaAndSizes64 = 108; // u32
constexpr uint32_t kOptDataDirectories32 = 96;      // first directory entry
constexpr uint32_t kOptDataDirectories64 = 112;
constexpr uint32_t kOptMinSize32 = 96; // the fixed part before the directories
constexpr uint32_t kOptMinSize64 = 112;
constexpr uint32_t kDataDirectoryEntrySize = 8; // RVA u32, size u32

// Data directory indexes the disassemblers read.
enum DataDirectory : int
{
    kDirExport = 0,
    kDirImport = 1,
    kDirResource = 2,
    kDirException = 3,
    kDirBaseRelocation = 5,
    kDirBoundImport = 11,
    kDirImportAddressTable = 12,
    kDirDelayImport = 13,
    kDirRuntimeDescriptor = 14,
};

// Section table entry (IMAGE_SECTION_HEADER).
constexpr uint32_t kSectionEntrySize = 40;
constexpr uint32_t kSectionName = 0; // 8 bytes, NUL-padded
constexpr uint32_t kSectionNameSize = 8;
constexpr uint32_t kSectionVirtualSize = 8;       // u32
constexpr uint32_t kSectionVirtualAddress = 12;   // u32
constexpr uint32_t kSectionSizeOfRawData = 16;    // u32
constexpr uint32_t kSectionPointerToRawData = 20; // u32

// Base relocation blocks: page RVA u32, block size u32, then u16 entries of
// (type << 12) | offset-in-page.
constexpr uint32_t kRelocBlockHeaderSize = 8;
constexpr uint32_t kRelocTypeAbsolute = 0; // padding
constexpr uint32_t kRelocTypeHighLow = 3;  // 32-bit absolute address
constexpr uint32_t kRelocTypeDir64 = 10;   // 64-bit absolute address

} // namespace pe
} // namespace ovpatch
