#pragma once

#include <cstddef>
#include <cstdint>

// Directive-2 packages: the payload block decodes to a stream-group image of
// n + 1 streams. Streams 0 .. n-1 each hold the image of one saved encoded
// program, one per executable element in file order; stream n holds a
// binary diff (without header) from the concatenated assembled programs to
// the packaged file. A group has at most ten streams, so at most nine
// elements travel as programs; the diff carries everything else.
namespace ovpatch {

class ByteReader;
class ByteWriter;

// Decodes the payload block at package's cursor and appends the packaged
// file to output. Every failure logs one ERROR line and returns false.
bool UnpackDisassembledPayload(ByteReader *package, ByteWriter *output);

// Appends a whole directive-2 package (header with checksum, directive 2,
// payload) of [data, data + n) to package. False, with package left in any
// state, when the data holds no executable element or any step fails; the
// failing step logs its ERROR line (a parse failure a WARNING). The caller
// then packs the file plain.
bool WriteDisassembledPackage(const uint8_t *data, size_t n, uint32_t checksum, ByteWriter *package);

} // namespace ovpatch
