#pragma once

#include <cstdint>
#include <string>

#include "patchstatus.h"

// Ensemble patches: an old file, its executable elements transformed into
// encoded programs, and three binary diffs that turn them into the new file.
//
// Layout: five unsigned varints (magic, version, Checksum32 of the old file,
// Checksum32 of the new file, the size of the final diff's input), then one
// LZMA2 block holding a stream-group image of (at least) four streams:
//   0  the element list: count n, n kinds (1..7), then base offset and base
//      length of each element in the old file
//   1  the diff that corrects the predicted element parameters
//   2  the diff from the old to the new transformed elements
//   3  the diff from the old file followed by every reformed element to the
//      new file
namespace ovpatch {

constexpr uint32_t ENSEMBLE_MAGIC = 0x756F43;
constexpr uint32_t ENSEMBLE_VERSION = 20110216;

// Streams of the decompressed ensemble body.
enum EnsembleStream : size_t {
    ENSEMBLE_STREAM_ELEMENTS = 0,
    ENSEMBLE_STREAM_CORRECTION = 1,
    ENSEMBLE_STREAM_TRANSFORMED = 2,
    ENSEMBLE_STREAM_FINAL = 3,
    ENSEMBLE_STREAM_COUNT = 4,
};

struct EnsembleHeader
{
    uint32_t magic = 0;
    uint32_t version = 0;
    uint32_t sourceChecksum = 0;
    uint32_t targetChecksum = 0;
    uint32_t finalInputSize = 0;
};

class ByteReader;

// Reads the five header varints. PS_BAD_MAGIC, PS_BAD_VERSION or
// PS_BAD_HEADER (truncated) on failure; the reader then stands anywhere.
PatchStatus ReadEnsembleHeader(ByteReader *reader, EnsembleHeader *header);

class ByteWriter;

// The apply without files: old and patch bytes in, the new file's bytes
// appended to result (which must be empty). Same statuses as ApplyEnsemble
// apart from the two that concern files.
PatchStatus ApplyEnsembleToMemory(const uint8_t *oldData, size_t oldLength, const uint8_t *patchData,
                                  size_t patchLength, ByteWriter *result);

// Applies the ensemble patch at patchPath to the file at oldPath and writes
// the result to newPath. newPath is written only once everything succeeded;
// on any failure it is left as it was. PS_OK when the new file was written
// completely.
PatchStatus ApplyEnsemble(const std::string &oldPath, const std::string &patchPath,
                          const std::string &newPath);

} // namespace ovpatch
