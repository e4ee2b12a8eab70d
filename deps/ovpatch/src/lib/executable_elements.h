#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "patchstatus.h"

// The executables embedded in a file: the file itself, or the slices of a
// universal Mach-O file. Packages and ensemble patches treat each element as
// a program; everything outside the elements travels as plain bytes.
namespace ovpatch {

struct ExecutableElement
{
    uint32_t offset = 0;
    uint32_t length = 0; // the detected length, which may exclude trailing bytes
    ExecutableType type = EXE_UNKNOWN;
};

// Finds the elements of [data, data + length) in file order; an empty list
// when the file holds no executable. A detection failure other than "not an
// executable" is logged and yields no element. Each element is logged at the
// debug level.
std::vector<ExecutableElement> FindExecutableElements(const uint8_t *data, size_t length);

} // namespace ovpatch
