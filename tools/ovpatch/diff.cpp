#include <cstring>

#include "binarydiff.h"
#include "command.h"
#include "enginefiles.h"

// ovpatch diff [--header] [--method 0|1|2] OLD NEW DIFF
namespace ovpatch_cli {
namespace {

int runDiff(const Args &args)
{
    bool withHeader = false;
    int method = 2;
    Args files;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--header") {
            withHeader = true;
        } else if (args[i] == "--method") {
            if (i + 1 == args.size())
                return usageError("--method needs a value");
            const std::string &value = args[++i];
            if (value != "0" && value != "1" && value != "2")
                return usageError("--method takes 0, 1 or 2");
            method = value[0] - '0';
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() != 3)
        return usageError("diff needs OLD NEW DIFF");

    EngineLogSink log(g_Verbose);
    InputFile oldFile(files[0]);
    if (!oldFile.ok())
        return failure("cannot read " + files[0]);
    InputFile newFile(files[1]);
    if (!newFile.ok())
        return failure("cannot read " + files[1]);
    ovpatch::ByteReader oldReader = oldFile.reader();
    ovpatch::ByteReader newReader = newFile.reader();
    ovpatch::ByteWriter diff;
    if (!ovpatch::CreateBinaryDiff(&oldReader, &newReader, &diff, withHeader,
                                   static_cast<uint8_t>(method)))
        return failure(log.explain("creating the diff failed"));
    if (!writeOutput(files[2], diff))
        return failure("cannot write " + files[2]);
    return 0;
}

const Command command("diff", "diff [--header] [--method 0|1|2] OLD NEW DIFF", runDiff);

} // namespace
} // namespace ovpatch_cli
