#pragma once

#include <cstdint>

// Offsets and constants of the Mach-O layout that the Mach-O disassembler and
// the universal-file reader use. Thin files are read little-endian (x86 only);
// the universal (fat) header is big-endian.
namespace ovpatch {
namespace macho {

constexpr uint32_t kMagic32 = 0xFEEDFACE;
constexpr uint32_t kMagic64 = 0xFEEDFACF;
constexpr uint32_t kCpuTypeX86 = 7;
constexpr uint32_t kCpuTypeX86_64 = 0x01000007;

// mach_header / mach_header_64.
constexpr uint32_t kHeaderMinSize = 32;
constexpr uint32_t kHeaderSize32 = 28;
constexpr uint32_t kHeaderSize64 = 32;
constexpr uint32_t kHeaderMagic = 0;     // u32
constexpr uint32_t kHeaderCpuType = 4;   // u32
constexpr uint32_t kHeaderFileType = 12; // u32
constexpr uint32_t kHeaderNcmds = 16;    // u32

// Accepted file types: MH_EXECUTE (2), MH_PRELOAD (5), MH_DYLIB (6) and
// MH_BUNDLE (8), as a bit mask over values up to 8. MH_OBJECT is 1.
constexpr uint32_t kFileTypeObject = 1;
constexpr uint32_t kFileTypeExecute = 2;
constexpr uint32_t kFileTypeDylib = 6;
constexpr uint32_t kAcceptedFileTypes = 0x164;
constexpr uint32_t kMaxAcceptedFileType = 8;

// Load command header: cmd u32, cmdsize u32.
constexpr uint32_t kLoadCommandHeaderSize = 8;
constexpr uint32_t kLoadCommandCmd = 0;
constexpr uint32_t kLoadCommandSize = 4;
constexpr uint32_t kLcSegment = 0x1;
constexpr uint32_t kLcSegment64 = 0x19;

// segment_command (32-bit) and its sections.
constexpr uint32_t kSegment32Size = 56;
constexpr uint32_t kSegment32VmAddr = 24;   // u32
constexpr uint32_t kSegment32VmSize = 28;   // u32
constexpr uint32_t kSegment32FileOff = 32;  // u32
constexpr uint32_t kSegment32FileSize = 36; // u32
constexpr uint32_t kSegment32NSects = 48;   // u32
constexpr uint32_t kSection32Size = 68;
constexpr uint32_t kSection32Addr = 32;   // u32
constexpr uint32_t kSection32Size_ = 36;  // u32
constexpr uint32_t kSection32Offset = 40; // u32
constexpr uint32_t kSection32Flags = 56;  // u32

// segment_command_64 and its sections.
constexpr uint32_t kSegment64Size = 72;
constexpr uint32_t kSegment64VmAddr = 24;   // u64
constexpr uint32_t kSegment64VmSize = 32;   // u64
constexpr uint32_t kSegment64FileOff = 40;  // u64
constexpr uint32_t kSegment64FileSize = 48; // u64
constexpr uint32_t kSegment64NSects = 64;   // u32
constexpr uint32_t kSection64Size = 80;
constexpr uint32_t kSection64Addr = 32;   // u64
constexpr uint32_t kSection64Size_ = 40;  // u64
constexpr uint32_t kSection64Offset = 48; // u32
constexpr uint32_t kSection64Flags = 64;  // u32

// A code section holds only instructions (S_ATTR_PURE_INSTRUCTIONS) and is of
// the regular type (section type 0 in the low byte).
constexpr uint32_t kCodeSectionMask = 0x800000FF;
constexpr uint32_t kCodeSectionValue = 0x80000000;

// Universal (fat) files: big-endian header {magic, nfat_arch}, then one
// record per slice: fat_arch {cputype, cpusubtype, offset, size, align} of
// u32, or fat_arch_64 {cputype, cpusubtype, offset u64, size u64, align,
// reserved}.
constexpr uint32_t kFatMagic = 0xCAFEBABE;
constexpr uint32_t kFatMagic64 = 0xCAFEBABF;
constexpr uint32_t kFatHeaderSize = 8;
constexpr uint32_t kFatArchSize = 20;
constexpr uint32_t kFatArch64Size = 32;
// Java class files share the 0xCAFEBABE magic; their second word (the class
// file version) is at least 45, far above any real slice count.
constexpr uint32_t kFatMaxSlices = 30;

} // namespace macho
} // namespace ovpatch
