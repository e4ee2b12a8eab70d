#include "orvlog.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/format.hpp>

namespace orvlog {
namespace {

// Sinks may be created on any thread, and engine code logs from pool threads.
struct SinkList
{
    std::mutex mutex;
    std::vector<LogBase *> sinks;
};

SinkList &sinkList()
{
    static SinkList list;
    return list;
}

std::atomic<int> g_MaxLevel{LogLevel_DEVEL};

// Messages of a database layer that are known noise and never reach sinks.
bool isFilteredNoise(const std::string &message, const std::string &channel)
{
    if (channel != "DatabaseQuery")
        return false;
    return message == "sqlite3_prepare failed no such column: string_id" ||
           message.find("db_exec() select * from instance_properties where string_id = '") !=
               std::string::npos;
}

std::string indentContinuationLines(const std::string &message, size_t indent)
{
    std::string body;
    body.reserve(message.size());
    for (char c : message) {
        body += c;
        if (c == '\n')
            body.append(indent, ' ');
    }
    return body;
}

} // namespace

const char *LogLevelName(LogLevel level)
{
    switch (level) {
    case LogLevel_CRITICAL:
        return "CRITICAL";
    case LogLevel_ERROR:
        return "ERROR";
    case LogLevel_WARNING:
        return "WARNING";
    case LogLevel_DEBUG:
        return "DEBUG";
    case LogLevel_INFO:
        return "INFO";
    case LogLevel_DEVEL:
        return "DEVELOP";
    }
    return "UNKNOWN";
}

LogBase::LogBase()
{
    SinkList &list = sinkList();
    std::lock_guard<std::mutex> lock(list.mutex);
    list.sinks.push_back(this);
}

LogBase::~LogBase()
{
    SinkList &list = sinkList();
    std::lock_guard<std::mutex> lock(list.mutex);
    list.sinks.erase(std::remove(list.sinks.begin(), list.sinks.end(), this), list.sinks.end());
}

void LogBase::Critical(const std::string &, const std::string &, const std::string &, uint64_t,
                       const std::string &)
{
}

void SetMaxLogLevel(LogLevel level)
{
    g_MaxLevel = level;
}

LogLevel MaxLogLevel()
{
    return static_cast<LogLevel>(g_MaxLevel.load());
}

std::string LogTimestamp()
{
    using namespace boost::posix_time;
    const ptime now = microsec_clock::universal_time();
    const auto date = now.date();
    const time_duration time = now.time_of_day();
    return (boost::format("%04d-%02d-%02d %02d:%02d:%02d.%06d") % int(date.year()) %
            int(date.month()) % int(date.day()) % time.hours() % time.minutes() % time.seconds() %
            (time.total_microseconds() % 1000000))
        .str();
}

std::string LogHeader(const std::string &timestamp, LogLevel level, const std::string &channel,
                      uint64_t id)
{
    const std::string idText = id == 0 ? std::string() : std::to_string(id);
    return (boost::format("%s|%-8s|%-14s|%-3s|") % timestamp % LogLevelName(level) % channel %
            idText)
        .str();
}

void LogMessage(const std::string &message, LogLevel level, const std::string &channel, uint64_t id)
{
    if (isFilteredNoise(message, channel))
        return;
    if (level <= MaxLogLevel()) {
        const std::string timestamp = LogTimestamp();
        const std::string header = LogHeader(timestamp, level, channel, id);
        const std::string line = header + indentContinuationLines(message, header.size());
        SinkList &list = sinkList();
        std::lock_guard<std::mutex> lock(list.mutex);
        for (LogBase *sink : list.sinks)
            sink->Deliver(line, message, level, channel, id, timestamp);
        if (level == LogLevel_CRITICAL) {
            for (LogBase *sink : list.sinks)
                sink->Critical(line, message, channel, id, timestamp);
        }
    }
    if (level == LogLevel_CRITICAL) {
        // Other threads may still be running; skip static destructors.
        std::fflush(nullptr);
        std::_Exit(1);
    }
}

void LogAssertionFailure(const char *condition, const char *file, int line)
{
    LogMessage((boost::format("Assertion failed: %s at %s:%d") % condition % file % line).str(),
               LogLevel_CRITICAL);
    std::_Exit(1); // LogMessage does not return for CRITICAL
}

} // namespace orvlog
