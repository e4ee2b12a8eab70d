#pragma once

#include <string>
#include <vector>

// Each subcommand of ovpatch lives in its own file and registers itself with a
// static Command object, so subcommands can be added without touching main.
//
// Exit codes: 0 success, 1 failure (one line on stderr names what failed),
// 2 usage error.
namespace ovpatch_cli {

using Args = std::vector<std::string>;
using Handler = int (*)(const Args &args);

struct Command
{
    Command(const char *name, const char *usage, Handler handler);
};

int usageError(const std::string &message);
int failure(const std::string &message);

// True when --verbose was given: the engine log goes to stderr.
extern bool g_Verbose;

} // namespace ovpatch_cli
