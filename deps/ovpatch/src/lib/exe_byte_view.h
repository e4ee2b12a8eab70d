#pragma once

#include <cstddef>
#include <cstdint>

namespace ovpatch {

// A bounds-checked view of an executable's bytes for the PE and Mach-O
// disassemblers. Every read names an offset and fails, without touching
// memory, unless the whole field lies inside the view. Offsets are 64-bit so
// that sums of two 32-bit header fields cannot wrap before they are checked.
class ExeByteView
{
public:
    ExeByteView(const uint8_t *data, size_t size) : m_Data(data), m_Size(size) {}

    size_t size() const { return m_Size; }

    // True when [offset, offset + n) lies inside the view.
    bool Contains(uint64_t offset, uint64_t n) const
    {
        return offset <= m_Size && n <= m_Size - offset;
    }

    // Pointer to offset; only valid after Contains(offset, n) for the n bytes
    // the caller is going to read.
    const uint8_t *At(uint64_t offset) const { return m_Data + offset; }

    bool U8(uint64_t offset, uint8_t *value) const
    {
        if (!Contains(offset, 1))
            return false;
        *value = m_Data[offset];
        return true;
    }
    bool U16(uint64_t offset, uint16_t *value) const
    {
        if (!Contains(offset, 2))
            return false;
        *value = static_cast<uint16_t>(m_Data[offset] | (m_Data[offset + 1] << 8));
        return true;
    }
    bool U32(uint64_t offset, uint32_t *value) const
    {
        if (!Contains(offset, 4))
            return false;
        *value = Le32(m_Data + offset);
        return true;
    }
    bool U64(uint64_t offset, uint64_t *value) const
    {
        if (!Contains(offset, 8))
            return false;
        *value = Le32(m_Data + offset) | (static_cast<uint64_t>(Le32(m_Data + offset + 4)) << 32);
        return true;
    }
    bool U32BE(uint64_t offset, uint32_t *value) const
    {
        if (!Contains(offset, 4))
            return false;
        const uint8_t *p = m_Data + offset;
        *value = (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
                 (static_cast<uint32_t>(p[2]) << 8) | p[3];
        return true;
    }
    bool U64BE(uint64_t offset, uint64_t *value) const
    {
        uint32_t high = 0;
        uint32_t low = 0;
        if (!U32BE(offset, &high) || !U32BE(offset + 4, &low))
            return false;
        *value = (static_cast<uint64_t>(high) << 32) | low;
        return true;
    }

    static uint32_t Le32(const uint8_t *p)
    {
        return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
               (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    }

private:
    const uint8_t *m_Data;
    size_t m_Size;
};

} // namespace ovpatch
