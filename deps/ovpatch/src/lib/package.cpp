#include "package.h"

#include "binarydiff.h"
#include "enginelog.h"
#include "package_disassembled.h"
#include "streams.h"

namespace ovpatch {

namespace {

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
        if (!UnpackDisassembledPayload(&package, &output))
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
    ByteWriter package;
    if (tryDisassemble && !WriteDisassembledPackage(input.data(), input.length(), checksum, &package)) {
        // A file without executables is simply packed plain.
        if (package.length() != 0 || package.failed())
            LogWarning("falling back to default compression");
        package.Release();
    }
    if (package.length() == 0 && !writePlainPackage(input.data(), input.length(), checksum, &package))
        return false;
    const size_t length = static_cast<size_t>(package.length());
    if (WriteWholeFile(outputPath, package.data(), length) != length) {
        LogError("could not write output file");
        return false;
    }
    return true;
}

} // namespace ovpatch
