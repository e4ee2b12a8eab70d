#include "streams.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "orvlog.h"

namespace ovpatch {

namespace {

constexpr uint64_t kMinCapacity = 256;
constexpr size_t kMaxVarintBytes = 5;

void copyBytes(void *destination, const void *source, size_t n)
{
    if (n != 0)
        std::memcpy(destination, source, n);
}

} // namespace

// Varints are base 128, least significant group first; bit 7 marks that
// another byte follows. A 32-bit value takes at most five bytes, and of the
// fifth only the low four bits fit; a fifth byte with bit 7 set is invalid.
const uint8_t *DecodeVarUint32(const uint8_t *p, const uint8_t *end, uint32_t *value)
{
    uint32_t result = 0;
    for (size_t k = 0; k < kMaxVarintBytes; ++k) {
        if (p == end)
            return nullptr;
        const uint8_t byte = *p++;
        result |= static_cast<uint32_t>(byte & 0x7F) << (7 * k);
        if ((byte & 0x80) == 0) {
            *value = result;
            return p;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------- ByteReader

void ByteReader::Init(const void *data, size_t length)
{
    m_Start = static_cast<const uint8_t *>(data);
    m_Cursor = m_Start;
    m_End = length == 0 ? m_Start : m_Start + length;
}

bool ByteReader::Read(void *destination, size_t n)
{
    if (n > remaining())
        return false;
    copyBytes(destination, m_Cursor, n);
    m_Cursor += n;
    return true;
}

bool ByteReader::ReadVarUint32(uint32_t *value)
{
    uint32_t result = 0;
    const uint8_t *next = DecodeVarUint32(m_Cursor, m_End, &result);
    if (next == nullptr)
        return false;
    m_Cursor = next;
    *value = result;
    return true;
}

bool ByteReader::ReadVarSint32(int32_t *value)
{
    uint32_t zigzag = 0;
    if (!ReadVarUint32(&zigzag))
        return false;
    *value = static_cast<int32_t>((zigzag >> 1) ^ (0u - (zigzag & 1u)));
    return true;
}

bool ByteReader::Skip(size_t n)
{
    if (n > remaining())
        return false;
    m_Cursor += n;
    return true;
}

bool ByteReader::ShareSlice(size_t offset, size_t n, ByteReader *slice) const
{
    const size_t left = remaining();
    if (offset > left || n > left - offset)
        return false;
    slice->m_Start = m_Cursor + offset;
    slice->m_Cursor = slice->m_Start;
    slice->m_End = slice->m_Start + n;
    return true;
}

bool ByteReader::TakeSlice(size_t n, ByteReader *slice)
{
    if (!ShareSlice(0, n, slice))
        return false;
    m_Cursor += n;
    return true;
}

// ---------------------------------------------------------------- ByteWriter

ByteWriter::ByteWriter(ByteWriter &&other) noexcept
    : m_Data(other.m_Data), m_Length(other.m_Length), m_Capacity(other.m_Capacity)
{
    other.m_Data = nullptr;
    other.m_Length = 0;
    other.m_Capacity = 0;
}

ByteWriter &ByteWriter::operator=(ByteWriter &&other) noexcept
{
    if (this != &other) {
        Release();
        m_Data = other.m_Data;
        m_Length = other.m_Length;
        m_Capacity = other.m_Capacity;
        other.m_Data = nullptr;
        other.m_Length = 0;
        other.m_Capacity = 0;
    }
    return *this;
}

void ByteWriter::Release()
{
    delete[] m_Data;
    m_Data = nullptr;
    m_Length = 0;
    m_Capacity = 0;
}

void ByteWriter::fail()
{
    Release();
    m_Capacity = kFailedCapacity;
}

void ByteWriter::Truncate(uint64_t length)
{
    if (length < m_Length)
        m_Length = length;
}

// Moves the bytes into a new buffer of exactly newCapacity bytes.
bool ByteWriter::reallocate(uint64_t newCapacity)
{
    // A buffer that lands exactly on the failure marker could not be told
    // apart from a failed writer.
    if (newCapacity == kFailedCapacity || newCapacity > SIZE_MAX) {
        fail();
        return false;
    }
    uint8_t *buffer = new (std::nothrow) uint8_t[static_cast<size_t>(newCapacity)];
    if (buffer == nullptr) {
        fail();
        return false;
    }
    copyBytes(buffer, m_Data, static_cast<size_t>(m_Length));
    delete[] m_Data;
    m_Data = buffer;
    m_Capacity = newCapacity;
    return true;
}

bool ByteWriter::Write(const void *bytes, size_t n)
{
    if (failed())
        return false;
    if (m_Length + n < m_Length)
        return false;
    if (n == 0)
        return true;
    if (m_Capacity - m_Length < n) {
        // Bytes taken from this writer's own buffer must survive the move.
        const uint8_t *source = static_cast<const uint8_t *>(bytes);
        const bool own = m_Data != nullptr && source >= m_Data && source < m_Data + m_Length;
        const size_t ownOffset = own ? static_cast<size_t>(source - m_Data) : 0;
        const uint64_t needed = m_Length + n;
        uint64_t grown = m_Capacity == 0 ? kMinCapacity : m_Capacity;
        while (grown < needed)
            grown = grown > UINT64_MAX / 2 ? UINT64_MAX : grown * 2;
        if (!reallocate(std::max(kMinCapacity, grown)))
            return false;
        if (own)
            bytes = m_Data + ownOffset;
    }
    copyBytes(m_Data + m_Length, bytes, n);
    m_Length += n;
    return true;
}

bool ByteWriter::Reserve(uint64_t n)
{
    if (failed())
        return false;
    if (m_Length + n < m_Length)
        return false;
    if (m_Capacity >= m_Length + n)
        return true;
    return reallocate(std::max(kMinCapacity, m_Length + n));
}

bool ByteWriter::WriteVarUint32(uint32_t value)
{
    uint8_t bytes[kMaxVarintBytes];
    size_t n = 0;
    while (value >= 0x80) {
        bytes[n++] = static_cast<uint8_t>(value | 0x80);
        value >>= 7;
    }
    bytes[n++] = static_cast<uint8_t>(value);
    return Write(bytes, n);
}

bool ByteWriter::WriteVarSint32(int32_t value)
{
    const uint32_t bits = static_cast<uint32_t>(value);
    const uint32_t sign = value < 0 ? 0xFFFFFFFFu : 0u;
    return WriteVarUint32((bits << 1) ^ sign);
}

bool ByteWriter::WriteVarSize(uint64_t value)
{
    const uint32_t narrowed_value = static_cast<uint32_t>(value);
    ORVLOG_CHECK(value == narrowed_value);
    return WriteVarUint32(narrowed_value);
}

bool ByteWriter::AppendAndRelease(ByteWriter *other)
{
    if (other == this)
        return false;
    if (!Write(other->m_Data, static_cast<size_t>(other->m_Length)))
        return false;
    other->Release();
    return true;
}

// --------------------------------------------------------------- ReaderGroup

bool ReaderGroup::Parse(const void *data, size_t length)
{
    return Parse(ByteReader(data, length));
}

bool ReaderGroup::Parse(const ByteReader &image)
{
    ByteReader reader = image;
    uint32_t magic = 0;
    uint32_t count = 0;
    if (!reader.ReadVarUint32(&magic) || magic != GROUP_MAGIC)
        return false;
    if (!reader.ReadVarUint32(&count) || count > kMaxGroupStreams)
        return false;
    uint32_t lengths[kMaxGroupStreams] = {};
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (!reader.ReadVarUint32(&lengths[i]))
            return false;
        total += lengths[i]; // at most ten 32-bit values: cannot overflow
    }
    if (total != reader.remaining())
        return false;
    ByteReader streams[kMaxGroupStreams];
    for (uint32_t i = 0; i < count; ++i) {
        if (!reader.TakeSlice(lengths[i], &streams[i]))
            return false;
    }
    m_Count = count;
    for (size_t i = 0; i < kMaxGroupStreams; ++i)
        m_Streams[i] = streams[i];
    return true;
}

bool ReaderGroup::ReadGroup(ReaderGroup *out)
{
    ByteReader header = m_Streams[0];
    uint32_t count = 0;
    if (!header.ReadVarUint32(&count) || count > kMaxGroupStreams || count > m_Count)
        return false;
    uint32_t lengths[kMaxGroupStreams] = {};
    for (uint32_t i = 0; i < count; ++i) {
        if (!header.ReadVarUint32(&lengths[i]))
            return false;
    }
    // Check every stream before moving any cursor, so a failed read leaves
    // this group as it was.
    ByteReader sources[kMaxGroupStreams];
    sources[0] = header;
    for (uint32_t i = 1; i < count; ++i)
        sources[i] = m_Streams[i];
    for (uint32_t i = 0; i < count; ++i) {
        if (lengths[i] > sources[i].remaining())
            return false;
    }
    ByteReader streams[kMaxGroupStreams];
    for (uint32_t i = 0; i < count; ++i) {
        sources[i].TakeSlice(lengths[i], &streams[i]);
        m_Streams[i] = sources[i];
    }
    if (count == 0)
        m_Streams[0] = header;
    for (size_t i = 0; i < kMaxGroupStreams; ++i)
        out->m_Streams[i] = streams[i];
    return true;
}

bool ReaderGroup::IsExhausted() const
{
    for (const ByteReader &stream : m_Streams) {
        if (!stream.empty())
            return false;
    }
    return true;
}

// --------------------------------------------------------------- WriterGroup

bool WriterGroup::WriteHeader(ByteWriter *out) const
{
    if (!out->WriteVarUint32(GROUP_MAGIC) || !out->WriteVarSize(count()))
        return false;
    for (const ByteWriter &stream : m_Streams) {
        if (!out->WriteVarSize(stream.length()))
            return false;
    }
    return true;
}

bool WriterGroup::WriteImage(ByteWriter *out)
{
    ByteWriter header;
    if (!WriteHeader(&header))
        return false;
    uint64_t total = header.length();
    for (const ByteWriter &stream : m_Streams)
        total += stream.length();
    if (!out->Reserve(total) || !out->AppendAndRelease(&header))
        return false;
    for (ByteWriter &stream : m_Streams) {
        if (!out->AppendAndRelease(&stream))
            return false;
    }
    return true;
}

bool WriterGroup::WriteGroup(WriterGroup *inner)
{
    size_t used = 0;
    for (size_t i = 0; i < kMaxGroupStreams; ++i) {
        if (inner->m_Streams[i].length() != 0)
            used = i + 1;
    }
    if (!m_Streams[0].WriteVarSize(used))
        return false;
    for (size_t i = 0; i < used; ++i) {
        if (!m_Streams[0].WriteVarSize(inner->m_Streams[i].length()))
            return false;
    }
    for (size_t i = 0; i < used; ++i) {
        if (!m_Streams[i].AppendAndRelease(&inner->m_Streams[i]))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------- MappedFile

MappedFile::MappedFile(const std::string &path, int hint) : m_Hint(hint)
{
    m_Fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_Fd < 0) {
        m_Fd = -1;
        return;
    }
    struct stat status;
    if (::fstat(m_Fd, &status) != 0 || status.st_size <= 0)
        return;
    m_Size = static_cast<uint64_t>(status.st_size);
    if (m_Size > SIZE_MAX)
        return;
    void *view = ::mmap(nullptr, static_cast<size_t>(m_Size), PROT_READ, MAP_SHARED, m_Fd, 0);
    if (view == MAP_FAILED)
        return;
    m_View = view;
    m_ViewLength = static_cast<size_t>(m_Size);
    int advice = MADV_NORMAL;
    if (m_Hint == ACCESS_SEQUENTIAL)
        advice = MADV_SEQUENTIAL;
    else if (m_Hint == ACCESS_RANDOM)
        advice = MADV_RANDOM;
    ::madvise(m_View, m_ViewLength, advice);
}

uint8_t MappedFile::operator[](size_t i) const
{
    if (m_View == nullptr)
        throw std::invalid_argument("No view mapped");
    if (i >= m_ViewLength)
        throw std::out_of_range("View is not large enough");
    return data()[i];
}

void MappedFile::Close()
{
    if (m_View != nullptr)
        ::munmap(m_View, m_ViewLength);
    m_View = nullptr;
    m_ViewLength = 0;
    if (m_Fd >= 0)
        ::close(m_Fd);
    m_Fd = -1;
}

// ----------------------------------------------------------------- Functions

size_t WriteWholeFile(const std::string &path, const void *data, size_t n)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return 0;
    const size_t written = n == 0 ? 0 : std::fwrite(data, 1, n, file);
    if (std::fclose(file) != 0)
        return 0;
    return written;
}

uint32_t Checksum32(const void *data, size_t n)
{
    const uLong crc = crc32_z(0L, n == 0 ? Z_NULL : static_cast<const Bytef *>(data), n);
    return ~static_cast<uint32_t>(crc);
}

} // namespace ovpatch
