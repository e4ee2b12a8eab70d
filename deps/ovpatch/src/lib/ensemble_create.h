#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "patchstatus.h"

// The making side of ensemble patches. The executable elements of the old
// and the new file are found and paired; each old element is transformed
// exactly as the apply will transform it, each new element is disassembled
// with its labels numbered after the old program's, and three binary diffs
// (an empty correction, the transformed elements, the final file) are
// written. A pair of files without executables gives a patch with zero
// elements, which is one binary diff of the whole file.
namespace ovpatch {

class ByteWriter;

// Appends the patch that turns oldData into newData to patch (empty on
// entry). PS_OK, or the status of the step that failed (PS_STREAM_ERROR for
// a failed write, PS_FAILED for a diff that could not be created).
PatchStatus CreateEnsemblePatch(const uint8_t *oldData, size_t oldLength, const uint8_t *newData, size_t newLength,
                                ByteWriter *patch);

// The same between files. PS_FILE_IO_FAILED when an input cannot be mapped
// or the patch cannot be written completely.
PatchStatus CreateEnsemblePatchFile(const std::string &oldPath, const std::string &newPath,
                                    const std::string &patchPath);

} // namespace ovpatch
