#include "command.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace ovpatch_cli {
namespace {

struct Entry
{
    const char *usage;
    Handler handler;
};

std::map<std::string, Entry> &registry()
{
    static std::map<std::string, Entry> commands;
    return commands;
}

void printUsage()
{
    std::fprintf(stderr, "usage: ovpatch [--verbose] COMMAND ARGS...\n");
    for (const auto &[name, entry] : registry())
        std::fprintf(stderr, "  ovpatch %s\n", entry.usage);
}

} // namespace

Command::Command(const char *name, const char *usage, Handler handler)
{
    registry()[name] = Entry{usage, handler};
}

int usageError(const std::string &message)
{
    std::fprintf(stderr, "ovpatch: %s\n", message.c_str());
    printUsage();
    return 2;
}

int failure(const std::string &message)
{
    std::fprintf(stderr, "ovpatch: %s\n", message.c_str());
    return 1;
}

// Set by --verbose; subcommands route the engine log to stderr when true.
bool g_Verbose = false;

} // namespace ovpatch_cli

int main(int argc, char **argv)
{
    using namespace ovpatch_cli;
    Args args;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--verbose") == 0)
            g_Verbose = true;
        else
            args.emplace_back(argv[i]);
    }
    if (args.empty())
        return usageError("no command given");
    const auto it = registry().find(args.front());
    if (it == registry().end())
        return usageError("unknown command '" + args.front() + "'");
    args.erase(args.begin());
    return it->second.handler(args);
}
