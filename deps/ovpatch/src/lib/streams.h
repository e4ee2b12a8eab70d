#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "formats.h"

// Byte streams of the patch engine. Nothing here throws on bad input or on
// exhausted memory: operations return false, and a writer whose allocation
// failed stays failed until released. Untrusted bytes are read only through
// ByteReader, whose every operation checks the bytes that remain.
namespace ovpatch {

class ByteWriter;

// Decodes one unsigned varint from [p, end). Returns the pointer past it, or
// null when the data ends first or the fifth byte has its continuation bit set.
const uint8_t *DecodeVarUint32(const uint8_t *p, const uint8_t *end, uint32_t *value);

// A read cursor over memory it does not own (start <= cursor <= end). The
// memory must outlive the reader and every slice taken from it.
class ByteReader
{
public:
    ByteReader() = default;
    ByteReader(const void *data, size_t length) { Init(data, length); }

    void Init(const void *data, size_t length);

    // Each fails, leaving the cursor unchanged, when too few bytes remain.
    bool Read(void *destination, size_t n);
    bool ReadByte(uint8_t *value) { return Read(value, 1); }
    bool ReadVarUint32(uint32_t *value);
    // Unsigned varint, zigzag-decoded: 0, 1, 2, 3, 4 read as 0, -1, 1, -2, 2.
    bool ReadVarSint32(int32_t *value);
    bool Skip(size_t n);
    // A reader over [cursor + offset, cursor + offset + n); the cursor stays.
    bool ShareSlice(size_t offset, size_t n, ByteReader *slice) const;
    // A reader over [cursor, cursor + n); the cursor moves past it.
    bool TakeSlice(size_t n, ByteReader *slice);

    // Reads one LZMA2 block (property byte, unpacked-size varint, raw LZMA2
    // stream up to its end marker) and appends the decoded bytes to out. On
    // success the cursor stands right after the end marker; on failure (one
    // ERROR line is logged) the cursor and out's length are unchanged.
    bool ReadLzma2(ByteWriter *out);

    const uint8_t *start() const { return m_Start; }
    const uint8_t *cursor() const { return m_Cursor; }
    const uint8_t *end() const { return m_End; }
    size_t length() const { return static_cast<size_t>(m_End - m_Start); }
    size_t position() const { return static_cast<size_t>(m_Cursor - m_Start); }
    size_t remaining() const { return static_cast<size_t>(m_End - m_Cursor); }
    bool empty() const { return m_Cursor == m_End; }

private:
    const uint8_t *m_Start = nullptr;
    const uint8_t *m_End = nullptr;
    const uint8_t *m_Cursor = nullptr;
};

// A growable byte buffer that owns its memory. Growth doubles from 256 bytes.
// A failed allocation releases the buffer and puts the writer into its failed
// state (capacity 0xFFFFFFFF, length 0): every later write fails until Release.
class ByteWriter
{
public:
    static constexpr uint64_t kFailedCapacity = 0xFFFFFFFFu;

    ByteWriter() = default;
    ~ByteWriter() { Release(); }
    ByteWriter(const ByteWriter &) = delete;
    ByteWriter &operator=(const ByteWriter &) = delete;
    ByteWriter(ByteWriter &&other) noexcept;
    ByteWriter &operator=(ByteWriter &&other) noexcept;

    bool Write(const void *bytes, size_t n);
    bool WriteByte(uint8_t value) { return Write(&value, 1); }
    bool WriteVarUint32(uint32_t value);
    bool WriteVarSint32(int32_t value);
    // Sizes of 2^32 and more cannot be coded: a CRITICAL log line ends the
    // process (no stream of the engine comes near that size).
    bool WriteVarSize(uint64_t value);
    // Appends all of other's bytes and releases other; other is kept on failure.
    bool AppendAndRelease(ByteWriter *other);
    // Makes room for n more bytes with one allocation of exactly
    // max(256, length + n) bytes when the capacity is too small.
    bool Reserve(uint64_t n);
    // Frees the buffer; clears the failed state.
    void Release();

    // Appends one LZMA2 block (property byte, size varint, LZMA2 stream)
    // compressing the reader's remaining bytes (the reader is not advanced),
    // or the given memory.
    bool WriteLzma2(const ByteReader &source);
    bool WriteLzma2(const void *data, size_t n);

    const uint8_t *data() const { return m_Data; }
    uint8_t *data() { return m_Data; }
    uint64_t length() const { return m_Length; }
    uint64_t capacity() const { return m_Capacity; }
    bool failed() const { return m_Capacity == kFailedCapacity; }
    // Drops bytes from the end (n <= length).
    void Truncate(uint64_t length);

private:
    friend class ByteReader;
    bool reallocate(uint64_t newCapacity);
    void fail();

    uint8_t *m_Data = nullptr;
    uint64_t m_Length = 0;
    uint64_t m_Capacity = 0;
};

// Up to ten streams parsed from one image, or from a nested group.
class ReaderGroup
{
public:
    // Parses a stream-group image; it must be consumed exactly.
    bool Parse(const void *data, size_t length);
    // Parses the reader's bytes from its cursor to its end.
    bool Parse(const ByteReader &reader);

    size_t count() const { return static_cast<size_t>(m_Count); }
    ByteReader *stream(size_t i) { return &m_Streams[i]; }
    const ByteReader *stream(size_t i) const { return &m_Streams[i]; }

    // Reads a nested group written by WriterGroup::WriteGroup from the
    // cursors of this group's streams into out, advancing them.
    bool ReadGroup(ReaderGroup *out);
    // True when every stream's cursor is at its end.
    bool IsExhausted() const;

private:
    uint64_t m_Count = kMaxGroupStreams;
    ByteReader m_Streams[kMaxGroupStreams];
};

// Ten writers that travel as one stream-group image.
class WriterGroup
{
public:
    size_t count() const { return kMaxGroupStreams; }
    ByteWriter *stream(size_t i) { return &m_Streams[i]; }
    const ByteWriter *stream(size_t i) const { return &m_Streams[i]; }

    // Magic, stream count (always 10) and the ten stream lengths.
    bool WriteHeader(ByteWriter *out) const;
    // Header and the ten stream bodies; each stream is released once copied.
    bool WriteImage(ByteWriter *out);
    // Appends inner as a nested group: its used stream count and lengths go
    // into stream 0, inner stream i is appended to stream i and released.
    bool WriteGroup(WriterGroup *inner);

private:
    ByteWriter m_Streams[kMaxGroupStreams];
};

// A read-only shared memory map of a whole file. A missing or empty file
// does not map.
class MappedFile
{
public:
    enum AccessHint
    {
        ACCESS_NORMAL = 0,
        ACCESS_SEQUENTIAL = 1,
        ACCESS_RANDOM = 2
    };

    explicit MappedFile(const std::string &path, int hint = ACCESS_NORMAL);
    ~MappedFile() { Close(); }
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    bool IsMapped() const { return m_View != nullptr; }
    // True when the file could be opened; an empty file is open but unmapped.
    bool IsOpen() const { return m_Fd >= 0; }
    const uint8_t *data() const { return static_cast<const uint8_t *>(m_View); }
    size_t length() const { return m_ViewLength; }
    // The file size reported by fstat (also when mapping failed).
    uint64_t size() const { return m_Size; }
    // Throws std::invalid_argument without a view and std::out_of_range past it.
    uint8_t operator[](size_t i) const;
    void Close();

private:
    uint64_t m_Size = 0;
    int m_Hint = ACCESS_NORMAL;
    int m_Fd = -1;
    void *m_View = nullptr;
    size_t m_ViewLength = 0;
};

// Creates or truncates path and writes n bytes in one call. Returns the
// number written (0 when the file cannot be opened); callers compare it with n.
size_t WriteWholeFile(const std::string &path, const void *data, size_t n);

// The CRC-32 register without its final inversion: ~crc32(data).
// "abc" gives 0xCADBBE3D, no bytes give 0xFFFFFFFF.
uint32_t Checksum32(const void *data, size_t n);

} // namespace ovpatch
