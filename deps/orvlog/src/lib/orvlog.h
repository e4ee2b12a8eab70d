#pragma once

#include <cstdint>
#include <string>

// The patch engine's log. Every call formats one line with a fixed header
//   "YYYY-MM-DD HH:MM:SS.ffffff|LEVEL   |CHANNEL       |ID |message"
// and hands it to every registered sink. Without sinks the line is dropped.
// A CRITICAL line ends the process with exit code 1 once the sinks have run.
namespace orvlog {

enum LogLevel
{
    LogLevel_CRITICAL = 0,
    LogLevel_ERROR = 1,
    LogLevel_WARNING = 2,
    LogLevel_DEBUG = 3,
    LogLevel_INFO = 4,
    LogLevel_DEVEL = 5,
};

// "CRITICAL", "ERROR", "WARNING", "DEBUG", "INFO", "DEVELOP"; "UNKNOWN" otherwise.
const char *LogLevelName(LogLevel level);

// A sink receives every formatted line. Constructing one registers it,
// destroying it unregisters it; lines reach sinks in registration order.
class LogBase
{
public:
    LogBase();
    virtual ~LogBase();
    LogBase(const LogBase &) = delete;
    LogBase &operator=(const LogBase &) = delete;

    // Called for every line that passes the level filter.
    virtual void Deliver(const std::string &line, const std::string &message, LogLevel level,
                         const std::string &channel, uint64_t id, const std::string &timestamp) = 0;
    // Called in addition to Deliver for a CRITICAL line, right before the
    // process ends.
    virtual void Critical(const std::string &line, const std::string &message,
                          const std::string &channel, uint64_t id, const std::string &timestamp);
};

// Lines above this level are not formatted (default LogLevel_DEVEL, so
// everything passes). CRITICAL still ends the process whatever the level.
void SetMaxLogLevel(LogLevel level);
LogLevel MaxLogLevel();

// The engine's log call. The engine passes an empty channel and id 0.
void LogMessage(const std::string &message, LogLevel level, const std::string &channel = {},
                uint64_t id = 0);

// "YYYY-MM-DD HH:MM:SS.ffffff" for the current time in UTC.
std::string LogTimestamp();
// The line header for the given fields ("%s|%-8s|%-14s|%-3s|"; id 0 is empty).
std::string LogHeader(const std::string &timestamp, LogLevel level, const std::string &channel,
                      uint64_t id);

// Logs a CRITICAL "Assertion failed" line naming the condition and where it
// was checked; does not return.
[[noreturn]] void LogAssertionFailure(const char *condition, const char *file, int line);

} // namespace orvlog

// Checks an invariant whose failure must stop the process (never used for
// input validation).
#define ORVLOG_CHECK(condition)                                                                    \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::orvlog::LogAssertionFailure(#condition, __FILE__, __LINE__);                         \
    } while (false)
