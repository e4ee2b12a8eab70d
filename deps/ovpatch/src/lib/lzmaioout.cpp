// LZMA2 blocks inside engine streams: one property byte (the LZMA2
// dictionary-size byte), the unpacked size as a varint, then a raw LZMA2
// chunk stream ending with its end marker. The stream's own length is not
// stored; the decoder finds the end, and what follows belongs to the caller.

#include <algorithm>
#include <cstdlib>
#include <string>

#include <lzma.h>

#include "enginelog.h"
#include "streams.h"

namespace ovpatch {

namespace {

// Output space reserved before decoding starts. A hostile size field could
// otherwise ask for 4 GiB; beyond this the buffer grows as output arrives.
constexpr uint64_t kEagerReserveBytes = 64u << 20;
constexpr uint64_t kEagerReservePerInputByte = 64;
constexpr uint64_t kGrowthStepBytes = 1u << 20;
// Smallest dictionary liblzma accepts.
constexpr uint32_t kMinDictionarySize = 4096;

void logDecodeError(int code)
{
    LogError("Error uncompressing data " + std::to_string(code));
}

// Owns the option block that lzma_properties_decode allocates.
struct DecodedFilter
{
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
    ~DecodedFilter() { std::free(filters[0].options); }
};

struct StreamGuard
{
    lzma_stream stream = LZMA_STREAM_INIT;
    ~StreamGuard() { lzma_end(&stream); }
};

} // namespace

bool ByteReader::ReadLzma2(ByteWriter *out)
{
    ByteReader reader = *this;
    uint8_t property = 0;
    if (!reader.ReadByte(&property)) {
        LogError("Error read LZMA2 properties");
        return false;
    }
    uint32_t unpackedSize = 0;
    if (!reader.ReadVarUint32(&unpackedSize)) {
        LogError("Error read LZMA2 unpack size");
        return false;
    }

    const uint64_t base = out->length();
    const uint64_t eager = std::min<uint64_t>(
        unpackedSize,
        std::max<uint64_t>(kEagerReserveBytes, reader.remaining() * kEagerReservePerInputByte));
    if (out->failed() || base + unpackedSize == ByteWriter::kFailedCapacity ||
        !out->Reserve(eager)) {
        LogError("unable to allocate sink space");
        return false;
    }

    DecodedFilter filter;
    lzma_ret result = lzma_properties_decode(&filter.filters[0], nullptr, &property, 1);
    if (result != LZMA_OK) {
        logDecodeError(result);
        return false;
    }
    // Matches can never reach further back than the bytes decoded so far, so
    // a dictionary larger than the block only costs memory.
    auto *options = static_cast<lzma_options_lzma *>(filter.filters[0].options);
    options->dict_size = std::max<uint32_t>(kMinDictionarySize,
                                            std::min<uint32_t>(options->dict_size, unpackedSize));

    StreamGuard guard;
    lzma_stream &stream = guard.stream;
    result = lzma_raw_decoder(&stream, filter.filters);
    if (result != LZMA_OK) {
        logDecodeError(result);
        return false;
    }
    stream.next_in = reader.cursor();
    stream.avail_in = reader.remaining();

    uint64_t produced = 0;
    uint8_t overflow = 0;
    for (;;) {
        const bool full = produced == unpackedSize;
        if (full) {
            // Room for one byte more than announced: the decoder must now
            // find the end marker, and any further byte is an error.
            stream.next_out = &overflow;
            stream.avail_out = 1;
        } else {
            if (out->capacity() == out->length()) {
                const uint64_t step = std::min<uint64_t>(
                    unpackedSize - produced, std::max<uint64_t>(produced, kGrowthStepBytes));
                if (!out->Reserve(step)) {
                    LogError("unable to allocate sink space");
                    return false;
                }
            }
            stream.next_out = out->m_Data + out->m_Length;
            stream.avail_out = static_cast<size_t>(
                std::min<uint64_t>(out->m_Capacity - out->m_Length, unpackedSize - produced));
        }
        const size_t before = stream.avail_out;
        result = lzma_code(&stream, LZMA_RUN);
        const size_t written = before - stream.avail_out;
        if (full && written != 0) {
            out->Truncate(base);
            logDecodeError(LZMA_DATA_ERROR);
            return false;
        }
        if (!full) {
            produced += written;
            out->m_Length += written;
        }
        if (result == LZMA_STREAM_END)
            break;
        if (result != LZMA_OK) {
            out->Truncate(base);
            logDecodeError(result);
            return false;
        }
    }
    if (produced != unpackedSize) {
        out->Truncate(base);
        logDecodeError(LZMA_DATA_ERROR);
        return false;
    }
    m_Cursor = reader.m_Cursor + stream.total_in;
    return true;
}

bool ByteWriter::WriteLzma2(const ByteReader &source)
{
    return WriteLzma2(source.cursor(), source.remaining());
}

bool ByteWriter::WriteLzma2(const void *data, size_t n)
{
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, kLzma2Preset)) {
        LogError("Error Lzma2Enc_SetProps");
        return false;
    }
    // A dictionary larger than the input changes nothing but the memory the
    // encoder takes (preset 9 would allocate some 700 MB for every block).
    if (options.dict_size > n)
        options.dict_size = std::max<uint32_t>(kMinDictionarySize, static_cast<uint32_t>(n));
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};

    uint8_t property = 0;
    if (lzma_properties_encode(filters, &property) != LZMA_OK) {
        LogError("Error Lzma2Enc_SetProps");
        return false;
    }
    const uint64_t base = m_Length;
    if (!WriteByte(property) || !WriteVarSize(n))
        return false;

    StreamGuard guard;
    lzma_stream &stream = guard.stream;
    if (lzma_raw_encoder(&stream, filters) != LZMA_OK)
        orvlog::LogAssertionFailure("encHandle", __FILE__, __LINE__);
    stream.next_in = static_cast<const uint8_t *>(data);
    stream.avail_in = n;
    // Compressed executables take roughly a third of their size.
    if (!Reserve(n / 3 + 256))
        return false;
    for (;;) {
        if (m_Capacity == m_Length) {
            if (!Reserve(std::max<uint64_t>(m_Length, kGrowthStepBytes)))
                return false;
        }
        stream.next_out = m_Data + m_Length;
        stream.avail_out = static_cast<size_t>(m_Capacity - m_Length);
        const size_t before = stream.avail_out;
        const lzma_ret result = lzma_code(&stream, LZMA_FINISH);
        m_Length += before - stream.avail_out;
        if (result == LZMA_STREAM_END)
            return true;
        if (result != LZMA_OK) {
            Truncate(base);
            LogError("Error Lzma2Enc_Encode");
            return false;
        }
    }
}

} // namespace ovpatch
