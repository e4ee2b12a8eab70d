// ovpatch apply OLD PATCH NEW: applies an ensemble patch. NEW is written only
// when the whole patch applied; a failure names the status, e.g.
// "PS_CHECKSUM_MISMATCH (8)".
#include <string>

#include "command.h"
#include "stderrlog.h"
#include "ensemble.h"

namespace ovpatch_cli {
namespace {

int apply(const Args &args)
{
    if (args.size() != 3)
        return usageError("apply takes OLD PATCH NEW");
    const auto log = verboseLog();
    const ovpatch::PatchStatus status = ovpatch::ApplyEnsemble(args[0], args[1], args[2]);
    if (status != ovpatch::PS_OK)
        return failure(std::string("apply failed: ") + ovpatch::PatchStatusName(status) + " ("
                       + std::to_string(status) + ")");
    return 0;
}

const Command registration("apply", "apply OLD PATCH NEW", apply);

} // namespace
} // namespace ovpatch_cli
