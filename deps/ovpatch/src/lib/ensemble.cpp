#include "ensemble.h"

#include <memory>
#include <vector>

#include "binarydiff.h"
#include "patcher_x86_32.h"
#include "streams.h"

namespace ovpatch {
namespace {

// Element kinds are ExecutableType values; every one of them is handled by
// the same patcher, which detects the element's real format itself.
bool IsElementKind(uint32_t kind)
{
    return kind >= EXE_WIN_32_X86 && kind <= EXE_MACHO_X64;
}

// State of one apply; owns every intermediate buffer, so each return path
// releases them.
class EnsembleApply
{
public:
    EnsembleApply(const uint8_t *oldData, size_t oldLength)
        : m_OldData(oldData)
        , m_OldLength(oldLength)
    {
    }

    PatchStatus Run(const uint8_t *patchData, size_t patchLength, ByteWriter *result);

private:
    PatchStatus ReadElementList(ByteReader *list);
    PatchStatus Correct();
    PatchStatus Transform();
    PatchStatus DiffTransformed();
    PatchStatus Reform(ByteWriter *finalInput);

    const uint8_t *m_OldData;
    size_t m_OldLength;
    EnsembleHeader m_Header;
    std::vector<std::unique_ptr<TransformationPatcher>> m_Patchers;
    ByteWriter m_Body;
    ReaderGroup m_BodyStreams;
    ByteWriter m_Corrected;
    ReaderGroup m_CorrectedStreams;
    ByteWriter m_NewTransformed;
    ReaderGroup m_NewTransformedStreams;
};

PatchStatus EnsembleApply::Run(const uint8_t *patchData, size_t patchLength, ByteWriter *result)
{
    ByteReader patch(patchData, patchLength);
    PatchStatus status = ReadEnsembleHeader(&patch, &m_Header);
    if (status != PS_OK)
        return status;
    if (Checksum32(m_OldData, m_OldLength) != m_Header.sourceChecksum)
        return PS_CHECKSUM_MISMATCH;

    if (!patch.ReadLzma2(&m_Body))
        return PS_STREAM_ERROR;
    // Every phase needs its own stream; a body that lacks one is refused
    // before any phase runs.
    if (!m_BodyStreams.Parse(m_Body.data(), m_Body.length())
        || m_BodyStreams.count() < ENSEMBLE_STREAM_COUNT)
        return PS_BAD_HEADER;

    if ((status = ReadElementList(m_BodyStreams.stream(ENSEMBLE_STREAM_ELEMENTS))) != PS_OK)
        return status;
    if ((status = Correct()) != PS_OK)
        return status;
    if ((status = Transform()) != PS_OK)
        return status;
    if ((status = DiffTransformed()) != PS_OK)
        return status;

    ByteWriter finalInput;
    if ((status = Reform(&finalInput)) != PS_OK)
        return status;

    ByteReader finalReader(finalInput.data(), finalInput.length());
    if (!ApplyBinaryDiff(finalReader, m_BodyStreams.stream(ENSEMBLE_STREAM_FINAL), result, false))
        return PS_FAILED;
    if (Checksum32(result->data(), result->length()) != m_Header.targetChecksum)
        return PS_CHECKSUM_MISMATCH;
    return PS_OK;
}

PatchStatus EnsembleApply::ReadElementList(ByteReader *list)
{
    uint32_t count = 0;
    if (!list->ReadVarUint32(&count))
        return PS_BAD_HEADER;
    // The count is not trusted for a reservation: each kind must be present.
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t kind = 0;
        if (!list->ReadVarUint32(&kind) || !IsElementKind(kind))
            return PS_BAD_HEADER;
        std::unique_ptr<TransformationPatcher> patcher(new (std::nothrow) PatcherX86_32(m_OldData, m_OldLength));
        if (!patcher)
            return PS_STREAM_ERROR;
        m_Patchers.push_back(std::move(patcher));
    }
    for (auto &patcher : m_Patchers) {
        const PatchStatus status = patcher->ReadParameters(list);
        if (status != PS_OK)
            return status;
    }
    return list->empty() ? PS_OK : PS_BAD_HEADER;
}

PatchStatus EnsembleApply::Correct()
{
    WriterGroup predictions;
    for (auto &patcher : m_Patchers) {
        WriterGroup predicted;
        const PatchStatus status = patcher->PredictParameters(&predicted);
        if (status != PS_OK)
            return status;
        if (!predictions.WriteGroup(&predicted))
            return PS_STREAM_ERROR;
    }
    ByteWriter image;
    if (!predictions.WriteImage(&image))
        return PS_STREAM_ERROR;
    ByteReader imageReader(image.data(), image.length());
    if (!ApplyBinaryDiff(imageReader, m_BodyStreams.stream(ENSEMBLE_STREAM_CORRECTION), &m_Corrected, false))
        return PS_FAILED;
    if (!m_CorrectedStreams.Parse(m_Corrected.data(), m_Corrected.length()))
        return PS_STREAM_ERROR;
    return PS_OK;
}

PatchStatus EnsembleApply::Transform()
{
    WriterGroup transformed;
    for (auto &patcher : m_Patchers) {
        ReaderGroup parameters;
        if (!m_CorrectedStreams.ReadGroup(&parameters))
            return PS_STREAM_ERROR;
        WriterGroup element;
        const PatchStatus status = patcher->TransformElement(&parameters, &element);
        if (status != PS_OK)
            return status;
        if (!parameters.IsExhausted())
            return PS_STREAM_NOT_CONSUMED;
        if (!transformed.WriteGroup(&element))
            return PS_STREAM_ERROR;
    }
    if (!m_CorrectedStreams.IsExhausted())
        return PS_STREAM_NOT_CONSUMED;
    m_Corrected.Release();

    ByteWriter image;
    if (!transformed.WriteImage(&image))
        return PS_STREAM_ERROR;
    ByteReader imageReader(image.data(), image.length());
    if (!ApplyBinaryDiff(imageReader, m_BodyStreams.stream(ENSEMBLE_STREAM_TRANSFORMED), &m_NewTransformed, false))
        return PS_FAILED;
    return PS_OK;
}

PatchStatus EnsembleApply::DiffTransformed()
{
    if (!m_NewTransformedStreams.Parse(m_NewTransformed.data(), m_NewTransformed.length()))
        return PS_STREAM_ERROR;
    return PS_OK;
}

PatchStatus EnsembleApply::Reform(ByteWriter *finalInput)
{
    // The size is only a hint: a wrong one costs an allocation, not bytes.
    if (finalInput->failed() || !finalInput->Reserve(m_Header.finalInputSize))
        return PS_STREAM_ERROR;
    if (!finalInput->Write(m_OldData, m_OldLength))
        return PS_STREAM_ERROR;
    for (auto &patcher : m_Patchers) {
        ReaderGroup element;
        if (!m_NewTransformedStreams.ReadGroup(&element))
            return PS_STREAM_ERROR;
        const PatchStatus status = patcher->ReformElement(&element, finalInput);
        if (status != PS_OK)
            return status;
        if (!element.IsExhausted())
            return PS_STREAM_NOT_CONSUMED;
    }
    if (!m_NewTransformedStreams.IsExhausted())
        return PS_STREAM_NOT_CONSUMED;
    m_NewTransformedStreams = ReaderGroup();
    m_NewTransformed.Release();
    return PS_OK;
}

} // namespace

PatchStatus ReadEnsembleHeader(ByteReader *reader, EnsembleHeader *header)
{
    if (!reader->ReadVarUint32(&header->magic) || header->magic != ENSEMBLE_MAGIC)
        return PS_BAD_MAGIC;
    if (!reader->ReadVarUint32(&header->version) || header->version != ENSEMBLE_VERSION)
        return PS_BAD_VERSION;
    if (!reader->ReadVarUint32(&header->sourceChecksum) || !reader->ReadVarUint32(&header->targetChecksum)
        || !reader->ReadVarUint32(&header->finalInputSize))
        return PS_BAD_HEADER;
    return PS_OK;
}

PatchStatus ApplyEnsembleToMemory(const uint8_t *oldData, size_t oldLength, const uint8_t *patchData,
                                  size_t patchLength, ByteWriter *result)
{
    EnsembleApply apply(oldData, oldLength);
    return apply.Run(patchData, patchLength, result);
}

PatchStatus ApplyEnsemble(const std::string &oldPath, const std::string &patchPath, const std::string &newPath)
{
    MappedFile patch(patchPath);
    if (!patch.IsMapped())
        return PS_PATCH_OPEN_FAILED;
    {
        ByteReader reader(patch.data(), patch.length());
        EnsembleHeader header;
        const PatchStatus status = ReadEnsembleHeader(&reader, &header);
        if (status != PS_OK)
            return status;
    }
    MappedFile old(oldPath);
    if (!old.IsMapped())
        return PS_FILE_IO_FAILED;

    ByteWriter result;
    const PatchStatus status = ApplyEnsembleToMemory(old.data(), old.length(), patch.data(), patch.length(), &result);
    if (status != PS_OK)
        return status;
    if (WriteWholeFile(newPath, result.data(), result.length()) != result.length())
        return PS_FILE_IO_FAILED;
    return PS_OK;
}

} // namespace ovpatch
