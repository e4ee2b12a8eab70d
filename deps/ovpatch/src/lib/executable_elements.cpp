#include "executable_elements.h"

#include <string>

#include "disassembler.h"
#include "enginelog.h"

namespace ovpatch {
namespace {

// Universal Mach-O: magic CA FE BA BE, a big-endian slice count, then one
// 20-byte entry per slice (cputype, cpusubtype, offset, size, align, all
// big-endian). Only files of at least a page with at most 8 slices count.
constexpr uint32_t kUniversalMagic = 0xCAFEBABE;
constexpr size_t kUniversalMinimumLength = 4096;
constexpr uint32_t kUniversalMaximumSlices = 8;
constexpr size_t kUniversalEntryOffset = 8;
constexpr size_t kUniversalEntrySize = 20;

uint32_t BigEndian32(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

bool Detect(const uint8_t *data, size_t length, ExecutableType *type, size_t *detected, bool logFailure)
{
    const PatchStatus status = DetectExecutableKind(data, length, type, detected);
    if (status == PS_OK)
        return true;
    if (status != PS_NOT_EXECUTABLE && logFailure)
        LogError("error detecting file type " + std::to_string(status));
    return false;
}

void FindUniversalSlices(const uint8_t *data, size_t length, std::vector<ExecutableElement> *elements)
{
    // The length minimum keeps every slice entry inside the file.
    const uint32_t slices = BigEndian32(data + 4);
    for (uint32_t i = 0; i < slices; ++i) {
        const uint8_t *entry = data + kUniversalEntryOffset + i * kUniversalEntrySize;
        const uint32_t offset = BigEndian32(entry + 8);
        const uint32_t size = BigEndian32(entry + 12);
        if (offset > length || size > length - offset)
            return;
        bool overlaps = false;
        for (const ExecutableElement &element : *elements)
            overlaps |= offset < uint64_t(element.offset) + element.length && element.offset < uint64_t(offset) + size;
        if (overlaps)
            return;
        ExecutableType type = EXE_UNKNOWN;
        size_t detected = 0;
        if (!Detect(data + offset, size, &type, &detected, false))
            continue;
        if (detected > size)
            return;
        elements->push_back({offset, static_cast<uint32_t>(detected), type});
    }
}

} // namespace

std::vector<ExecutableElement> FindExecutableElements(const uint8_t *data, size_t length)
{
    std::vector<ExecutableElement> elements;
    if (length >= kUniversalMinimumLength && BigEndian32(data) == kUniversalMagic
        && BigEndian32(data + 4) <= kUniversalMaximumSlices)
        FindUniversalSlices(data, length, &elements);

    if (elements.empty()) {
        ExecutableType type = EXE_UNKNOWN;
        size_t detected = 0;
        // Element ranges travel as 32-bit varints.
        if (length <= UINT32_MAX && Detect(data, length, &type, &detected, true))
            elements.push_back({0, static_cast<uint32_t>(detected), type});
    }
    for (const ExecutableElement &element : elements)
        LogDebug(std::string("detected ") + ExecutableTypeName(element.type));
    return elements;
}

} // namespace ovpatch
