#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "command.h"
#include "orvlog.h"

namespace ovpatch_cli {

// Shows the engine log on stderr while it lives.
class StderrLog : public orvlog::LogBase
{
public:
    void Deliver(const std::string &line, const std::string &, orvlog::LogLevel, const std::string &, uint64_t,
                 const std::string &) override
    {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
};

// A sink when --verbose was given, otherwise none.
inline std::unique_ptr<StderrLog> verboseLog()
{
    return g_Verbose ? std::make_unique<StderrLog>() : nullptr;
}

} // namespace ovpatch_cli
