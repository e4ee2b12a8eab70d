#pragma once

#include <string>
#include <vector>

#include "orvlog.h"

// Collects the engine log's messages while it lives.
class LogCapture : public orvlog::LogBase
{
public:
    void Deliver(const std::string &line, const std::string &message, orvlog::LogLevel level,
                 const std::string &, uint64_t, const std::string &) override
    {
        lines.push_back(line);
        messages.push_back(message);
        levels.push_back(level);
    }

    bool contains(const std::string &message) const
    {
        for (const std::string &m : messages) {
            if (m == message)
                return true;
        }
        return false;
    }

    bool containsPrefix(const std::string &prefix) const
    {
        for (const std::string &m : messages) {
            if (m.compare(0, prefix.size(), prefix) == 0)
                return true;
        }
        return false;
    }

    std::vector<std::string> lines;
    std::vector<std::string> messages;
    std::vector<orvlog::LogLevel> levels;
};
