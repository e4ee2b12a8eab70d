#include "ensemble_create.h"

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "binarydiff.h"
#include "disassembled_program.h"
#include "disassembler.h"
#include "encoded_program.h"
#include "enginelog.h"
#include "ensemble.h"
#include "executable_elements.h"
#include "label_assignment.h"
#include "patcher_x86_32.h"
#include "streams.h"

namespace ovpatch {
namespace {

// One old element and the new element it becomes, both transformed.
struct ElementPair
{
    ExecutableElement old;
    ExecutableElement next;
    WriterGroup oldTransformed;
    WriterGroup newTransformed;
};

PatchStatus Disassemble(const uint8_t *data, const ExecutableElement &element,
                        std::unique_ptr<DisassembledProgram> *program)
{
    PatchStatus status = ParseExecutable(data + element.offset, element.length, program);
    if (status == PS_OK)
        status = TrimLabels(program->get());
    return status;
}

PatchStatus SaveProgram(const DisassembledProgram &program, WriterGroup *out)
{
    std::unique_ptr<EncodedProgram> encoded;
    const PatchStatus status = Encode(program, &encoded);
    return status == PS_OK ? WriteEncodedProgram(*encoded, out) : status;
}

// Transforms both elements of a pair. The old side must come out exactly as
// the apply's TransformExecutable makes it; the new side is free in its
// numbering, which is chosen to resemble the old program's.
PatchStatus TransformPair(const uint8_t *oldData, const uint8_t *newData, ElementPair *pair)
{
    std::unique_ptr<DisassembledProgram> oldProgram;
    PatchStatus status = Disassemble(oldData, pair->old, &oldProgram);
    if (status != PS_OK)
        return status;
    if ((status = SaveProgram(*oldProgram, &pair->oldTransformed)) != PS_OK)
        return status;

    std::unique_ptr<DisassembledProgram> newProgram;
    if ((status = Disassemble(newData, pair->next, &newProgram)) != PS_OK)
        return status;
    MatchLabelIndexes(*oldProgram, newProgram.get());
    return SaveProgram(*newProgram, &pair->newTransformed);
}

// Pairs elements of the same kind in file order: a universal file's slices
// pair by architecture, a lone executable with the lone executable.
std::vector<std::unique_ptr<ElementPair>> PairElements(const std::vector<ExecutableElement> &oldElements,
                                                       const std::vector<ExecutableElement> &newElements)
{
    std::vector<std::unique_ptr<ElementPair>> pairs;
    size_t nextNew = 0;
    for (const ExecutableElement &old : oldElements) {
        for (size_t i = nextNew; i < newElements.size(); ++i) {
            if (newElements[i].type != old.type)
                continue;
            auto pair = std::make_unique<ElementPair>();
            pair->old = old;
            pair->next = newElements[i];
            pairs.push_back(std::move(pair));
            nextNew = i + 1;
            break;
        }
    }
    return pairs;
}

bool DiffMemory(const uint8_t *from, size_t fromLength, const uint8_t *to, size_t toLength, ByteWriter *out)
{
    ByteReader fromReader(from, fromLength);
    ByteReader toReader(to, toLength);
    return CreateBinaryDiff(&fromReader, &toReader, out, false, DIFF_UNCOMPRESSED);
}

bool Diff(const ByteWriter &from, const ByteWriter &to, ByteWriter *out)
{
    return DiffMemory(from.data(), from.length(), to.data(), to.length(), out);
}

} // namespace

PatchStatus CreateEnsemblePatch(const uint8_t *oldData, size_t oldLength, const uint8_t *newData, size_t newLength,
                                ByteWriter *patch)
{
    auto pairs = PairElements(FindExecutableElements(oldData, oldLength), FindExecutableElements(newData, newLength));

    // A pair that cannot be transformed on either side is left to the final
    // diff; the apply would fail on an old element that does not transform.
    std::vector<std::unique_ptr<ElementPair>> elements;
    for (auto &pair : pairs) {
        const PatchStatus status = TransformPair(oldData, newData, pair.get());
        if (status == PS_OK)
            elements.push_back(std::move(pair));
        else
            LogWarning(std::string("element ") + ExecutableTypeName(pair->old.type) + " left to the final diff, status "
                       + std::to_string(status));
    }
    pairs.clear();

    WriterGroup body;
    ByteWriter *list = body.stream(ENSEMBLE_STREAM_ELEMENTS);
    bool written = list->WriteVarSize(elements.size());
    for (const auto &element : elements)
        written = written && list->WriteVarUint32(static_cast<uint32_t>(element->old.type));
    for (const auto &element : elements)
        written = written && list->WriteVarUint32(element->old.offset) && list->WriteVarUint32(element->old.length);
    if (!written)
        return PS_STREAM_ERROR;

    // The patcher predicts no parameters and takes none, so the correction
    // turns the image of empty nested groups into itself.
    WriterGroup predictions;
    for (size_t i = 0; i < elements.size(); ++i) {
        WriterGroup predicted;
        if (!predictions.WriteGroup(&predicted))
            return PS_STREAM_ERROR;
    }
    ByteWriter predictionImage;
    if (!predictions.WriteImage(&predictionImage))
        return PS_STREAM_ERROR;
    if (!Diff(predictionImage, predictionImage, body.stream(ENSEMBLE_STREAM_CORRECTION)))
        return PS_FAILED;

    WriterGroup oldTransformed;
    WriterGroup newTransformed;
    for (auto &element : elements) {
        if (!oldTransformed.WriteGroup(&element->oldTransformed) || !newTransformed.WriteGroup(&element->newTransformed))
            return PS_STREAM_ERROR;
    }
    ByteWriter oldImage;
    ByteWriter newImage;
    if (!oldTransformed.WriteImage(&oldImage) || !newTransformed.WriteImage(&newImage))
        return PS_STREAM_ERROR;
    if (!Diff(oldImage, newImage, body.stream(ENSEMBLE_STREAM_TRANSFORMED)))
        return PS_FAILED;
    oldImage.Release();

    // Reform the new elements from the very image the apply will hold, so
    // that the final diff starts from the same bytes.
    ByteWriter finalInput;
    if (!finalInput.Write(oldData, oldLength))
        return PS_STREAM_ERROR;
    ReaderGroup newStreams;
    if (!newStreams.Parse(newImage.data(), newImage.length()))
        return PS_STREAM_ERROR;
    for (size_t i = 0; i < elements.size(); ++i) {
        ReaderGroup element;
        if (!newStreams.ReadGroup(&element))
            return PS_STREAM_ERROR;
        const PatchStatus status = ReformExecutable(&element, &finalInput);
        if (status != PS_OK)
            return status;
    }
    if (finalInput.length() > UINT32_MAX)
        return PS_FAILED;
    if (!DiffMemory(finalInput.data(), finalInput.length(), newData, newLength, body.stream(ENSEMBLE_STREAM_FINAL)))
        return PS_FAILED;

    ByteWriter bodyImage;
    if (!body.WriteImage(&bodyImage))
        return PS_STREAM_ERROR;
    if (!patch->WriteVarUint32(ENSEMBLE_MAGIC) || !patch->WriteVarUint32(ENSEMBLE_VERSION)
        || !patch->WriteVarUint32(Checksum32(oldData, oldLength)) || !patch->WriteVarUint32(Checksum32(newData, newLength))
        || !patch->WriteVarSize(finalInput.length()))
        return PS_STREAM_ERROR;
    finalInput.Release();
    if (!patch->WriteLzma2(bodyImage.data(), bodyImage.length()))
        return PS_STREAM_ERROR;
    LogDebug("ensemble patch with " + std::to_string(elements.size()) + " elements");
    return PS_OK;
}

PatchStatus CreateEnsemblePatchFile(const std::string &oldPath, const std::string &newPath,
                                    const std::string &patchPath)
{
    MappedFile old(oldPath);
    if (!old.IsMapped())
        return PS_FILE_IO_FAILED;
    MappedFile next(newPath);
    // An empty new file does not map but is a valid target.
    struct stat info;
    if (!next.IsMapped() && (stat(newPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != 0))
        return PS_FILE_IO_FAILED;

    ByteWriter patch;
    const PatchStatus status = CreateEnsemblePatch(old.data(), old.length(), next.data(), next.length(), &patch);
    if (status != PS_OK)
        return status;
    if (WriteWholeFile(patchPath, patch.data(), patch.length()) != patch.length())
        return PS_FILE_IO_FAILED;
    return PS_OK;
}

} // namespace ovpatch
