#pragma once

#include <cstdint>

namespace ovpatch {

// Result of every engine operation that can fail. The numbers travel out of
// the engine unchanged and are therefore fixed; values not listed are never
// produced.
enum PatchStatus : uint32_t
{
    PS_OK = 1,
    PS_FAILED = 2,
    PS_PATCH_OPEN_FAILED = 3,
    PS_FILE_IO_FAILED = 4,
    PS_BAD_MAGIC = 5,
    PS_BAD_VERSION = 6,
    PS_BAD_HEADER = 7,
    PS_CHECKSUM_MISMATCH = 8,
    PS_BAD_TRANSFORM_PARAMS = 12,
    PS_STREAM_ERROR = 20,
    PS_STREAM_NOT_CONSUMED = 21,
    PS_BAD_ENCODED_PROGRAM = 23,
    PS_NOT_EXECUTABLE = 24,
    PS_DISASSEMBLY_FAILED = 25,
    PS_ASSEMBLY_FAILED = 26,
    PS_TRIM_FAILED = 28,
};

// The enumerator's name ("PS_CHECKSUM_MISMATCH"), or "PS_UNKNOWN".
const char *PatchStatusName(PatchStatus status);

// The kind of executable a disassembler recognised. Stored in ensemble
// patches as element kinds, so the numbers are fixed.
enum ExecutableType : int32_t
{
    EXE_UNKNOWN = 0,
    EXE_WIN_32_X86 = 1,
    EXE_ELF_32_X86 = 2,
    EXE_ELF_32_ARM = 3,
    EXE_WIN_32_X64 = 4,
    EXE_ELF_64_X64 = 5,
    EXE_MACHO_X86 = 6,
    EXE_MACHO_X64 = 7,
};

// Display name used in log lines; "UNKNOWN" for any value outside 1..7.
const char *ExecutableTypeName(ExecutableType type);

} // namespace ovpatch
