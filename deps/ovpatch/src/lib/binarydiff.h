#pragma once

#include <cstdint>

#include "streams.h"

// The binary diff turns an old byte image into a new one through control
// triples (x, y, z): add x diff bytes to x old bytes, append y extra bytes,
// then move the old position by x + z. Layout:
//   ["OVDIFF10" + varint Checksum32(new)]  only with header
//   method byte (0, 1 or 2), varint new size, body
// Body of method 0: varint lengths of control, diff and extra, then the three
// streams back to back; method 1: control, diff and extra as three LZMA2
// blocks; method 2: the method-0 body as one LZMA2 block.
namespace ovpatch {

// Applies the diff at patch's cursor to the old image (oldImage's cursor to
// its end; not advanced) and appends the result to newImage, which should be
// empty. The patch reader is advanced past what was read. Returns false on
// any corruption; newImage then holds a partial image the caller discards.
bool ApplyBinaryDiff(const ByteReader &oldImage, ByteReader *patch, ByteWriter *newImage,
                     bool withHeader);

// Creates a diff from all remaining bytes of oldImage to all remaining bytes
// of newImage (both are consumed) and appends it to out. Images must be
// smaller than 2 GiB; method is 0, 1 or 2.
bool CreateBinaryDiff(ByteReader *oldImage, ByteReader *newImage, ByteWriter *out, bool withHeader,
                      uint8_t method);

} // namespace ovpatch
