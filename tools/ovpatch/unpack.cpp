#include "command.h"
#include "enginefiles.h"
#include "package.h"

// ovpatch unpack PACKAGE OUTPUT
namespace ovpatch_cli {
namespace {

int runUnpack(const Args &args)
{
    if (args.size() != 2)
        return usageError("unpack needs PACKAGE OUTPUT");
    EngineLogSink log(g_Verbose);
    if (!ovpatch::UnpackPackage(args[0], args[1]))
        return failure(log.explain("unpacking " + args[0] + " failed"));
    return 0;
}

const Command command("unpack", "unpack PACKAGE OUTPUT", runUnpack);

} // namespace
} // namespace ovpatch_cli
