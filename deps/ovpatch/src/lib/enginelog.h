#pragma once

#include <string>

#include "orvlog.h"

// The engine logs with an empty channel and id 0.
namespace ovpatch {

inline void LogError(const std::string &message)
{
    orvlog::LogMessage(message, orvlog::LogLevel_ERROR);
}

inline void LogWarning(const std::string &message)
{
    orvlog::LogMessage(message, orvlog::LogLevel_WARNING);
}

inline void LogDebug(const std::string &message)
{
    orvlog::LogMessage(message, orvlog::LogLevel_DEBUG);
}

} // namespace ovpatch
