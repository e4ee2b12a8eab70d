#include <cstring>

#include "binarydiff.h"
#include "enginelog.h"

namespace ovpatch {

namespace {

struct DiffStreams
{
    ByteReader control;
    ByteReader diff;
    ByteReader extra;
};

// The uncompressed body: three lengths, then the three streams back to back.
bool readPlainBody(ByteReader *body, DiffStreams *streams)
{
    uint32_t controlLength = 0;
    uint32_t diffLength = 0;
    uint32_t extraLength = 0;
    return body->ReadVarUint32(&controlLength) && body->ReadVarUint32(&diffLength) &&
           body->ReadVarUint32(&extraLength) && body->TakeSlice(controlLength, &streams->control) &&
           body->TakeSlice(diffLength, &streams->diff) &&
           body->TakeSlice(extraLength, &streams->extra);
}

} // namespace

bool ApplyBinaryDiff(const ByteReader &oldImage, ByteReader *patch, ByteWriter *newImage,
                     bool withHeader)
{
    uint32_t expectedChecksum = 0;
    if (withHeader) {
        char magic[kDiffMagicSize];
        if (!patch->Read(magic, sizeof(magic)) ||
            std::memcmp(magic, kDiffMagic, kDiffMagicSize) != 0) {
            LogError("Corrupt patch header");
            return false;
        }
        if (!patch->ReadVarUint32(&expectedChecksum)) {
            LogError("Could not read crc");
            return false;
        }
    }
    uint8_t method = 0;
    if (!patch->ReadByte(&method))
        return false;
    if (method >= kDiffMethodCount) {
        LogError("Invalid compression method");
        return false;
    }
    uint32_t newSize = 0;
    if (!patch->ReadVarUint32(&newSize))
        return false;

    // Decoded LZMA2 buffers; the streams below may point into them.
    ByteWriter control, diff, extra, body;
    DiffStreams streams;
    if (method == DIFF_EACH_STREAM_LZMA2) {
        if (!patch->ReadLzma2(&control) || !patch->ReadLzma2(&diff) || !patch->ReadLzma2(&extra))
            return false;
        streams.control.Init(control.data(), control.length());
        streams.diff.Init(diff.data(), diff.length());
        streams.extra.Init(extra.data(), extra.length());
    } else if (method == DIFF_BODY_LZMA2) {
        if (!patch->ReadLzma2(&body))
            return false;
        ByteReader decoded(body.data(), body.length());
        if (!readPlainBody(&decoded, &streams))
            return false;
    } else if (!readPlainBody(patch, &streams)) {
        return false;
    }

    // Every new byte comes from exactly one diff or extra byte, so a size
    // the streams cannot back is corrupt; checking it first keeps a hostile
    // size field from reserving memory.
    if (newSize > static_cast<uint64_t>(streams.diff.remaining()) + streams.extra.remaining()) {
        LogError("Corrupt patch");
        return false;
    }
    const uint64_t base = newImage->length();
    if (!newImage->Reserve(newSize))
        return false;

    const uint8_t *old = oldImage.cursor();
    const int64_t oldLength = static_cast<int64_t>(oldImage.remaining());
    // Relative to the old image's start; may step below zero between triples.
    // It cannot overflow: each triple moves it by less than 2^32 and a
    // control stream below 4 GiB holds fewer than 2^31 triples.
    int64_t position = 0;
    while (newImage->length() - base < newSize) {
        int32_t x = 0;
        int32_t y = 0;
        int32_t z = 0;
        if (!streams.control.ReadVarSint32(&x) || !streams.control.ReadVarSint32(&y) ||
            !streams.control.ReadVarSint32(&z)) {
            LogError("Corrupt patch reading control");
            return false;
        }
        if (x < 0 || y < 0 || static_cast<uint64_t>(x) > streams.diff.remaining() ||
            static_cast<uint64_t>(y) > streams.extra.remaining())
            return false;
        if (position < 0 || position + x > oldLength)
            return false;
        const uint64_t produced = newImage->length() - base;
        // The size check covers the diff bytes too, so the image can never
        // end up longer than announced.
        if (produced + static_cast<uint64_t>(x) + static_cast<uint64_t>(y) > newSize) {
            LogError("Corrupt patch");
            return false;
        }
        if (!newImage->Write(streams.diff.cursor(), static_cast<size_t>(x)))
            return false;
        uint8_t *added = newImage->data() + newImage->length() - x;
        const uint8_t *source = old + position;
        for (int32_t i = 0; i < x; ++i)
            added[i] = static_cast<uint8_t>(added[i] + source[i]);
        if (!newImage->Write(streams.extra.cursor(), static_cast<size_t>(y)))
            return false;
        streams.diff.Skip(static_cast<size_t>(x));
        streams.extra.Skip(static_cast<size_t>(y));
        position += static_cast<int64_t>(x) + z;
    }

    if (withHeader &&
        Checksum32(newImage->data() + base, static_cast<size_t>(newSize)) != expectedChecksum) {
        LogError("crc mismatch");
        return false;
    }
    return true;
}

} // namespace ovpatch
