#pragma once

#include <string>

// Compressed packages ("._lzma2_" files):
//   varint magic 132781929, varint Checksum32 of the packaged file,
//   varint directive (1 plain, 2 disassembled and diffed), one LZMA2 block.
// Directive 1: the block decodes to the packaged file. Directive 2: it
// decodes to a stream-group image of n encoded programs and one binary diff
// (without header) from their assembled bytes to the packaged file.
// Bytes after the block are ignored.
namespace ovpatch {

// Decodes the package at inputPath and writes the packaged file to
// outputPath, only once it is complete and its checksum matched. Every
// failure logs one ERROR line and returns false.
bool UnpackPackage(const std::string &inputPath, const std::string &outputPath);

// Writes inputPath as a package to outputPath. With tryDisassemble the
// executable elements are stored as encoded programs (directive 2); a file
// without executables, or one whose disassembly fails, is packed plain.
bool PackFile(const std::string &inputPath, const std::string &outputPath, bool tryDisassemble);

} // namespace ovpatch
