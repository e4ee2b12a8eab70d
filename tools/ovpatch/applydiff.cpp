#include "binarydiff.h"
#include "command.h"
#include "enginefiles.h"

// ovpatch apply-diff [--header] OLD DIFF NEW
namespace ovpatch_cli {
namespace {

int runApplyDiff(const Args &args)
{
    bool withHeader = false;
    Args files;
    for (const std::string &arg : args) {
        if (arg == "--header")
            withHeader = true;
        else
            files.push_back(arg);
    }
    if (files.size() != 3)
        return usageError("apply-diff needs OLD DIFF NEW");

    EngineLogSink log(g_Verbose);
    InputFile oldFile(files[0]);
    if (!oldFile.ok())
        return failure("cannot read " + files[0]);
    InputFile diffFile(files[1]);
    if (!diffFile.ok())
        return failure("cannot read " + files[1]);
    ovpatch::ByteReader patch = diffFile.reader();
    ovpatch::ByteWriter image;
    if (!ovpatch::ApplyBinaryDiff(oldFile.reader(), &patch, &image, withHeader))
        return failure(log.explain("applying the diff failed"));
    if (!writeOutput(files[2], image))
        return failure("cannot write " + files[2]);
    return 0;
}

const Command command("apply-diff", "apply-diff [--header] OLD DIFF NEW", runApplyDiff);

} // namespace
} // namespace ovpatch_cli
