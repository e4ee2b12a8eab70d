#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "orvlog.h"
#include "streams.h"

// Helpers shared by the subcommands that work on files through the engine.
namespace ovpatch_cli {

// Shows the engine log on stderr with --verbose and remembers the last ERROR
// message, so a failure line can say why the engine refused.
class EngineLogSink : public orvlog::LogBase
{
public:
    explicit EngineLogSink(bool verbose) : m_Verbose(verbose) {}

    void Deliver(const std::string &line, const std::string &message, orvlog::LogLevel level,
                 const std::string &, uint64_t, const std::string &) override
    {
        if (m_Verbose)
            std::fprintf(stderr, "%s\n", line.c_str());
        if (level <= orvlog::LogLevel_ERROR)
            m_LastError = message;
    }

    // "what: last engine error", or just what when the engine logged nothing.
    std::string explain(const std::string &what) const
    {
        return m_LastError.empty() ? what : what + ": " + m_LastError;
    }

private:
    bool m_Verbose;
    std::string m_LastError;
};

// A whole input file as a reader. Empty files open without a mapping.
class InputFile
{
public:
    explicit InputFile(const std::string &path) : m_File(path) {}

    bool ok() const { return m_File.IsMapped() || (m_File.IsOpen() && m_File.size() == 0); }
    ovpatch::ByteReader reader() const
    {
        return ovpatch::ByteReader(m_File.data(), m_File.length());
    }

private:
    ovpatch::MappedFile m_File;
};

// Writes the buffer to path; false when the file is short or cannot be made.
inline bool writeOutput(const std::string &path, const ovpatch::ByteWriter &data)
{
    const size_t length = static_cast<size_t>(data.length());
    return ovpatch::WriteWholeFile(path, data.data(), length) == length;
}

} // namespace ovpatch_cli
