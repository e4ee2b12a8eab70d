#include "patchstatus.h"

namespace ovpatch {

const char *PatchStatusName(PatchStatus status)
{
    switch (status) {
    case PS_OK:
        return "PS_OK";
    case PS_FAILED:
        return "PS_FAILED";
    case PS_PATCH_OPEN_FAILED:
        return "PS_PATCH_OPEN_FAILED";
    case PS_FILE_IO_FAILED:
        return "PS_FILE_IO_FAILED";
    case PS_BAD_MAGIC:
        return "PS_BAD_MAGIC";
    case PS_BAD_VERSION:
        return "PS_BAD_VERSION";
    case PS_BAD_HEADER:
        return "PS_BAD_HEADER";
    case PS_CHECKSUM_MISMATCH:
        return "PS_CHECKSUM_MISMATCH";
    case PS_BAD_TRANSFORM_PARAMS:
        return "PS_BAD_TRANSFORM_PARAMS";
    case PS_STREAM_ERROR:
        return "PS_STREAM_ERROR";
    case PS_STREAM_NOT_CONSUMED:
        return "PS_STREAM_NOT_CONSUMED";
    case PS_BAD_ENCODED_PROGRAM:
        return "PS_BAD_ENCODED_PROGRAM";
    case PS_NOT_EXECUTABLE:
        return "PS_NOT_EXECUTABLE";
    case PS_DISASSEMBLY_FAILED:
        return "PS_DISASSEMBLY_FAILED";
    case PS_ASSEMBLY_FAILED:
        return "PS_ASSEMBLY_FAILED";
    case PS_TRIM_FAILED:
        return "PS_TRIM_FAILED";
    }
    return "PS_UNKNOWN";
}

const char *ExecutableTypeName(ExecutableType type)
{
    switch (type) {
    case EXE_WIN_32_X86:
        return "WIN_32_X86";
    case EXE_ELF_32_X86:
        return "EXE_ELF_32_X86";
    case EXE_ELF_32_ARM:
        return "ELF_32_ARM";
    case EXE_WIN_32_X64:
        return "WIN_32_X64";
    case EXE_ELF_64_X64:
        return "ELF_64_X64";
    case EXE_MACHO_X86:
        return "MACHO_X86";
    case EXE_MACHO_X64:
        return "MACHO_X64";
    case EXE_UNKNOWN:
        break;
    }
    return "UNKNOWN";
}

} // namespace ovpatch
