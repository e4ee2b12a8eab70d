#include "package.h"

#include "binarydiff.h"
#include "enginelog.h"
#include "streams.h"

namespace ovpatch {

namespace {

// A directive-2 payload: n encoded programs, then the diff. Encoded programs
// cannot be loaded by this build of the engine yet, so such a package fails
// once its container has been checked.
bool unpackDisassembled(ByteReader *package)
{
    ByteWriter payload;
    if (!package->ReadLzma2(&payload)) {
        LogError("could not decompress file");
        return false;
    }
    ReaderGroup group;
    if (!group.Parse(payload.data(), payload.length())) {
        LogError("could not init dif_and_dis set");
        return false;
    }
    if (group.count() < 2) {
        LogError("dis_and_diff too small");
        return false;
    }
    for (size_t i = 0; i + 1 < group.count(); ++i) {
        ReaderGroup program;
        if (!program.Parse(*group.stream(i))) {
            LogError("could not init program_source set");
            return false;
        }
        LogError("could not read encoded program");
        return false;
    }
    return false;
}

bool writePlainPackage(const uint8_t *data, size_t n, uint32_t checksum, ByteWriter *package)
{
    if (!package->WriteVarUint32(PACKAGE_MAGIC)) {
        LogError("could not write magic");
        return false;
    }
    if (!package->WriteVarUint32(checksum)) {
        LogError("could not write crc");
        return false;
    }
    if (!package->WriteVarUint32(kPackageDirectivePlain)) {
        LogError("could not write preprocess directive");
        return false;
    }
    if (!package->WriteLzma2(data, n)) {
        LogError("could not compress file");
        return false;
    }
    return true;
}

} // namespace

bool UnpackPackage(const std::string &inputPath, const std::string &outputPath)
{
    MappedFile input(inputPath);
    if (!input.IsMapped()) {
        LogError("could not open lzma file");
        return false;
    }
    ByteReader package(input.data(), input.length());
    uint32_t magic = 0;
    uint32_t checksum = 0;
    uint32_t directive = 0;
    if (!package.ReadVarUint32(&magic) || !package.ReadVarUint32(&checksum) ||
        !package.ReadVarUint32(&directive)) {
        LogError("could not read lzma header");
        return false;
    }
    if (magic != PACKAGE_MAGIC) {
        LogError("not lzma file");
        return false;
    }
    ByteWriter output;
    if (directive == kPackageDirectivePlain) {
        if (!package.ReadLzma2(&output)) {
            LogError("could not decompress file");
            return false;
        }
    } else if (directive == kPackageDirectiveDisassembled) {
        if (!unpackDisassembled(&package))
            return false;
    } else {
        LogError("Unknown preprocessing dirrective");
        return false;
    }
    if (Checksum32(output.data(), output.length()) != checksum) {
        LogError("crc mismatch");
        return false;
    }
    const size_t length = static_cast<size_t>(output.length());
    if (WriteWholeFile(outputPath, output.data(), length) != length) {
        LogError("could not write output file");
        return false;
    }
    return true;
}

bool PackFile(const std::string &inputPath, const std::string &outputPath, bool tryDisassemble)
{
    MappedFile input(inputPath);
    // An empty file opens but does not map; it still makes a valid package.
    if (!input.IsMapped() && !(input.IsOpen() && input.size() == 0)) {
        LogError("could not open file");
        return false;
    }
    const uint32_t checksum = Checksum32(input.data(), input.length());
    if (tryDisassemble)
        LogDebug("no disassembler available, packing plain");
    ByteWriter package;
    if (!writePlainPackage(input.data(), input.length(), checksum, &package))
        return false;
    const size_t length = static_cast<size_t>(package.length());
    if (WriteWholeFile(outputPath, package.data(), length) != length) {
        LogError("could not write output file");
        return false;
    }
    return true;
}

} // namespace ovpatch
