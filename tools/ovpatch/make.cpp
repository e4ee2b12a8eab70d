// ovpatch make OLD NEW PATCH: writes the ensemble patch that turns OLD into
// NEW.
#include <string>

#include "command.h"
#include "stderrlog.h"
#include "ensemble_create.h"

namespace ovpatch_cli {
namespace {

int make(const Args &args)
{
    if (args.size() != 3)
        return usageError("make takes OLD NEW PATCH");
    const auto log = verboseLog();
    const ovpatch::PatchStatus status = ovpatch::CreateEnsemblePatchFile(args[0], args[1], args[2]);
    if (status != ovpatch::PS_OK)
        return failure(std::string("make failed: ") + ovpatch::PatchStatusName(status) + " ("
                       + std::to_string(status) + ")");
    return 0;
}

const Command registration("make", "make OLD NEW PATCH", make);

} // namespace
} // namespace ovpatch_cli
