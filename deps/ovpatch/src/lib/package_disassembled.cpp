#include "package_disassembled.h"

#include <memory>
#include <vector>

#include "binarydiff.h"
#include "disassembled_program.h"
#include "disassembler.h"
#include "encoded_program.h"
#include "enginelog.h"
#include "executable_elements.h"
#include "formats.h"
#include "streams.h"

namespace ovpatch {
namespace {

// The last stream carries the diff.
constexpr size_t kMaxPackageElements = kMaxGroupStreams - 1;

bool Fail(const char *message)
{
    LogError(message);
    return false;
}

// Turns one element into its saved program (stream) and appends the bytes
// the unpacker will assemble from it to oldImage.
bool PackElement(const uint8_t *data, const ExecutableElement &element, ByteWriter *stream, ByteWriter *oldImage)
{
    std::unique_ptr<DisassembledProgram> program;
    if (ParseExecutable(data + element.offset, element.length, &program) != PS_OK) {
        LogWarning("could not parse file");
        return false;
    }
    if (TrimLabels(program.get()) != PS_OK)
        return Fail("could not trim labels");
    std::unique_ptr<EncodedProgram> encoded;
    if (Encode(*program, &encoded) != PS_OK)
        return Fail("could not encode program");
    program.reset();
    WriterGroup saved;
    if (WriteEncodedProgram(*encoded, &saved) != PS_OK)
        return Fail("could not write encode program");
    if (!saved.WriteImage(stream))
        return Fail("could not combine streams");
    if (Assemble(encoded.get(), oldImage) != PS_OK)
        return Fail("could not assemble program");
    return true;
}

// A stream-group image of the first count streams of group. WriterGroup's
// own image always declares ten streams, but the unpacker takes the last
// declared stream as the diff and every stream before it as a program, so
// the payload must declare exactly the streams it uses.
bool WriteGroupImage(WriterGroup *group, size_t count, ByteWriter *image)
{
    bool ok = image->WriteVarUint32(GROUP_MAGIC) && image->WriteVarSize(count);
    uint64_t total = 0;
    for (size_t i = 0; i < count && ok; ++i) {
        ok = image->WriteVarSize(group->stream(i)->length());
        total += group->stream(i)->length();
    }
    ok = ok && image->Reserve(total);
    for (size_t i = 0; i < count && ok; ++i)
        ok = image->AppendAndRelease(group->stream(i));
    return ok;
}

} // namespace

bool UnpackDisassembledPayload(ByteReader *package, ByteWriter *output)
{
    ByteWriter payload;
    if (!package->ReadLzma2(&payload))
        return Fail("could not decompress file");
    ReaderGroup group;
    if (!group.Parse(payload.data(), payload.length()))
        return Fail("could not init dif_and_dis set");
    if (group.count() < 2)
        return Fail("dis_and_diff too small");

    ByteWriter oldImage;
    const size_t programs = group.count() - 1;
    for (size_t i = 0; i < programs; ++i) {
        ReaderGroup streams;
        if (!streams.Parse(*group.stream(i)))
            return Fail("could not init program_source set");
        std::unique_ptr<EncodedProgram> encoded;
        if (ReadEncodedProgram(&streams, &encoded) != PS_OK)
            return Fail("could not read encoded program");
        if (Assemble(encoded.get(), &oldImage) != PS_OK)
            return Fail("could not assemble program");
    }
    ByteReader oldReader(oldImage.data(), oldImage.length());
    if (!ApplyBinaryDiff(oldReader, group.stream(programs), output, false))
        return Fail("could not apply diff");
    return true;
}

bool WriteDisassembledPackage(const uint8_t *data, size_t n, uint32_t checksum, ByteWriter *package)
{
    std::vector<ExecutableElement> elements = FindExecutableElements(data, n);
    if (elements.empty())
        return false;
    if (elements.size() > kMaxPackageElements)
        elements.resize(kMaxPackageElements);

    if (!package->WriteVarUint32(PACKAGE_MAGIC))
        return Fail("could not write magic");
    if (!package->WriteVarUint32(checksum))
        return Fail("could not write crc");
    if (!package->WriteVarUint32(kPackageDirectiveDisassembled))
        return Fail("could not write preprocess directive");

    WriterGroup group;
    ByteWriter oldImage;
    for (size_t i = 0; i < elements.size(); ++i) {
        if (!PackElement(data, elements[i], group.stream(i), &oldImage))
            return false;
    }
    ByteReader oldReader(oldImage.data(), oldImage.length());
    ByteReader newReader(data, n);
    if (!CreateBinaryDiff(&oldReader, &newReader, group.stream(elements.size()), false, DIFF_UNCOMPRESSED))
        return Fail("could not generate diff");
    oldImage.Release();

    // The group image declares all ten streams; the unpacker takes the last
    // non-program stream as the diff, so the count must be exactly n + 1.
    ByteWriter image;
    if (!WriteGroupImage(&group, elements.size() + 1, &image))
        return Fail("could not combine dis and dif");
    if (!package->WriteLzma2(image.data(), image.length()))
        return Fail("could not compress file");
    return true;
}

} // namespace ovpatch
