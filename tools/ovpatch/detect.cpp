// ovpatch detect FILE: names the kind of executable FILE holds and the number
// of bytes that belong to it, as "KIND LENGTH" ("UNKNOWN 0" when no
// disassembler accepts it).
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "command.h"
#include "disassembler.h"
#include "patchstatus.h"
#include "stderrlog.h"
#include "streams.h"

namespace ovpatch_cli {
namespace {

int detect(const Args &args)
{
    if (args.size() != 1)
        return usageError("detect takes exactly one file");
    const std::string &path = args[0];
    const auto log = verboseLog();

    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return failure("cannot read " + path);
    ovpatch::ExecutableType type = ovpatch::EXE_UNKNOWN;
    size_t length = 0;
    if (info.st_size > 0) {
        ovpatch::MappedFile file(path);
        if (!file.IsMapped())
            return failure("cannot read " + path);
        ovpatch::DetectExecutableKind(file.data(), file.length(), &type, &length);
    }
    std::printf("%s %zu\n", ovpatch::ExecutableTypeName(type), length);
    return 0;
}

const Command kDetect("detect", "detect FILE", detect);

} // namespace
} // namespace ovpatch_cli
