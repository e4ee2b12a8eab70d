#pragma once

#include "patchstatus.h"

namespace ovpatch {

class ByteReader;
class ByteWriter;
class ReaderGroup;
class WriterGroup;

// One element of an ensemble patch, driven through the phases of the apply
// in the order of the element list.
class TransformationPatcher
{
public:
    TransformationPatcher() = default;
    virtual ~TransformationPatcher() = default;
    TransformationPatcher(const TransformationPatcher &) = delete;
    TransformationPatcher &operator=(const TransformationPatcher &) = delete;

    // Reads the element's parameters from the element list.
    virtual PatchStatus ReadParameters(ByteReader *reader) = 0;
    // Writes what the maker is expected to have chosen for the element.
    virtual PatchStatus PredictParameters(WriterGroup *predicted) = 0;
    // Turns the old element into the streams that the transformed-element
    // diff applies to.
    virtual PatchStatus TransformElement(ReaderGroup *correctedParameters, WriterGroup *out) = 0;
    // Turns the new element's streams back into bytes, appended to output.
    virtual PatchStatus ReformElement(ReaderGroup *in, ByteWriter *output) = 0;
};

} // namespace ovpatch
