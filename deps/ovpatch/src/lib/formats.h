#pragma once

#include <cstddef>
#include <cstdint>

// On-disk constants of the engine's formats, kept apart from the code that
// reads and writes them.
namespace ovpatch {

// Stream-group image: magic varint, stream count, one length per stream,
// then the stream bodies back to back. The magic's varint bytes are EA 9A CA 09.
constexpr uint32_t GROUP_MAGIC = 20090218;
constexpr size_t kMaxGroupStreams = 10;

// Compressed package: magic, Checksum32 of the packaged file, directive, then
// one LZMA2 block. The magic's varint bytes are E9 AE A8 3F.
constexpr uint32_t PACKAGE_MAGIC = 132781929;
constexpr uint32_t kPackageDirectivePlain = 1;
constexpr uint32_t kPackageDirectiveDisassembled = 2;

// Binary diff: optional header (magic and Checksum32 of the new image), the
// compression method byte, the new size, then the body.
constexpr char kDiffMagic[8] = {'O', 'V', 'D', 'I', 'F', 'F', '1', '0'};
constexpr size_t kDiffMagicSize = sizeof(kDiffMagic);

enum DiffCompression : uint8_t
{
    DIFF_UNCOMPRESSED = 0,      // three lengths, then control, diff and extra bytes
    DIFF_EACH_STREAM_LZMA2 = 1, // control, diff and extra each one LZMA2 block
    DIFF_BODY_LZMA2 = 2,        // the uncompressed body as one LZMA2 block
};
constexpr uint8_t kDiffMethodCount = 3;

// LZMA2 blocks are written with this liblzma preset.
constexpr uint32_t kLzma2Preset = 9;

} // namespace ovpatch
