#pragma once

#include <cstddef>
#include <cstdint>

#include "transformation_patcher.h"

namespace ovpatch {

// The element patcher of every executable kind: the element's real format is
// found by detection, so one patcher serves ELF, PE and Mach-O alike.
// Transforming an element means disassembling, trimming, encoding and saving
// it; reforming means loading and assembling the encoded program.
class PatcherX86_32 : public TransformationPatcher
{
public:
    // The old file's bytes are borrowed and must outlive the patcher.
    PatcherX86_32(const uint8_t *oldData, size_t oldLength);

    PatchStatus ReadParameters(ByteReader *reader) override;
    PatchStatus PredictParameters(WriterGroup *predicted) override;
    PatchStatus TransformElement(ReaderGroup *correctedParameters, WriterGroup *out) override;
    PatchStatus ReformElement(ReaderGroup *in, ByteWriter *output) override;

    uint32_t baseOffset() const { return m_BaseOffset; }
    uint32_t baseLength() const { return m_BaseLength; }

private:
    const uint8_t *m_OldData;
    size_t m_OldLength;
    uint32_t m_BaseOffset = 0;
    uint32_t m_BaseLength = 0;
};

// The transformation of one executable element, shared by the apply and the
// patch maker so that both produce the same bytes: disassemble, trim labels,
// encode and save into out.
PatchStatus TransformExecutable(const uint8_t *data, size_t length, WriterGroup *out);

// The inverse on the new side: load the encoded program from in and append
// its assembled bytes to output.
PatchStatus ReformExecutable(ReaderGroup *in, ByteWriter *output);

} // namespace ovpatch
