// ovpatch make OLD NEW PATCH: writes the ensemble patch that turns OLD into
// NEW. The written patch is applied to OLD once more before the command
// succeeds, so a patch that would not reproduce NEW is never shipped.
#include <cstring>
#include <string>

#include "command.h"
#include "ensemble.h"
#include "ensemble_create.h"
#include "stderrlog.h"
#include "streams.h"

namespace ovpatch_cli {
namespace {

std::string describe(ovpatch::PatchStatus status)
{
    return std::string(ovpatch::PatchStatusName(status)) + " (" + std::to_string(status) + ")";
}

int make(const Args &args)
{
    if (args.size() != 3)
        return usageError("make takes OLD NEW PATCH");
    const auto log = verboseLog();
    const ovpatch::PatchStatus status = ovpatch::CreateEnsemblePatchFile(args[0], args[1], args[2]);
    if (status != ovpatch::PS_OK)
        return failure("make failed: " + describe(status));

    ovpatch::MappedFile old(args[0]);
    ovpatch::MappedFile patch(args[2]);
    ovpatch::MappedFile next(args[1]);
    ovpatch::ByteWriter result;
    const ovpatch::PatchStatus check =
        ovpatch::ApplyEnsembleToMemory(old.data(), old.length(), patch.data(), patch.length(), &result);
    if (check != ovpatch::PS_OK)
        return failure("the written patch does not apply: " + describe(check));
    if (result.length() != next.length()
        || (next.length() && std::memcmp(result.data(), next.data(), next.length()) != 0))
        return failure("the written patch does not reproduce " + args[1]);
    return 0;
}

const Command registration("make", "make OLD NEW PATCH", make);

} // namespace
} // namespace ovpatch_cli
