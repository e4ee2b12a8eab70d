#include "command.h"
#include "enginefiles.h"
#include "package.h"

// ovpatch pack [--plain] INPUT PACKAGE
namespace ovpatch_cli {
namespace {

int runPack(const Args &args)
{
    bool plain = false;
    Args files;
    for (const std::string &arg : args) {
        if (arg == "--plain")
            plain = true;
        else
            files.push_back(arg);
    }
    if (files.size() != 2)
        return usageError("pack needs INPUT PACKAGE");
    EngineLogSink log(g_Verbose);
    if (!ovpatch::PackFile(files[0], files[1], !plain))
        return failure(log.explain("packing " + files[0] + " failed"));
    return 0;
}

const Command command("pack", "pack [--plain] INPUT PACKAGE", runPack);

} // namespace
} // namespace ovpatch_cli
