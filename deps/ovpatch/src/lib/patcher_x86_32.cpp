#include "patcher_x86_32.h"

#include <memory>

#include "disassembled_program.h"
#include "disassembler.h"
#include "encoded_program.h"
#include "streams.h"

namespace ovpatch {

PatcherX86_32::PatcherX86_32(const uint8_t *oldData, size_t oldLength)
    : m_OldData(oldData)
    , m_OldLength(oldLength)
{
}

PatchStatus PatcherX86_32::ReadParameters(ByteReader *reader)
{
    if (!reader->ReadVarUint32(&m_BaseOffset) || !reader->ReadVarUint32(&m_BaseLength))
        return PS_BAD_TRANSFORM_PARAMS;
    // Written so that neither comparison can overflow.
    if (m_BaseOffset > m_OldLength || m_BaseLength > m_OldLength - m_BaseOffset)
        return PS_BAD_TRANSFORM_PARAMS;
    return PS_OK;
}

PatchStatus PatcherX86_32::PredictParameters(WriterGroup *)
{
    return PS_OK;
}

PatchStatus PatcherX86_32::TransformElement(ReaderGroup *correctedParameters, WriterGroup *out)
{
    // This patcher takes no parameters beyond its element range.
    if (!correctedParameters->IsExhausted())
        return PS_FAILED;
    return TransformExecutable(m_OldData + m_BaseOffset, m_BaseLength, out);
}

PatchStatus PatcherX86_32::ReformElement(ReaderGroup *in, ByteWriter *output)
{
    return ReformExecutable(in, output);
}

PatchStatus TransformExecutable(const uint8_t *data, size_t length, WriterGroup *out)
{
    std::unique_ptr<DisassembledProgram> program;
    PatchStatus status = ParseExecutable(data, length, &program);
    if (status != PS_OK)
        return status;
    if ((status = TrimLabels(program.get())) != PS_OK)
        return status;
    std::unique_ptr<EncodedProgram> encoded;
    if ((status = Encode(*program, &encoded)) != PS_OK)
        return status;
    program.reset();
    return WriteEncodedProgram(*encoded, out);
}

PatchStatus ReformExecutable(ReaderGroup *in, ByteWriter *output)
{
    std::unique_ptr<EncodedProgram> encoded;
    const PatchStatus status = ReadEncodedProgram(in, &encoded);
    if (status != PS_OK)
        return status;
    return Assemble(encoded.get(), output);
}

} // namespace ovpatch
