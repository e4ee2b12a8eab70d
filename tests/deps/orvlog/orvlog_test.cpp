#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "orvlog.h"

using namespace orvlog;

namespace {

struct Recorded
{
    std::string line;
    LogLevel level;
    bool critical;
};

class RecordingSink : public LogBase
{
public:
    explicit RecordingSink(std::vector<std::string> *order = nullptr, std::string name = {})
        : m_Order(order), m_Name(std::move(name))
    {
    }
    void Deliver(const std::string &line, const std::string &, LogLevel level, const std::string &,
                 uint64_t, const std::string &) override
    {
        records.push_back({line, level, false});
        if (m_Order)
            m_Order->push_back(m_Name);
    }
    void Critical(const std::string &line, const std::string &, const std::string &, uint64_t,
                  const std::string &) override
    {
        records.push_back({line, LogLevel_CRITICAL, true});
    }
    std::vector<Recorded> records;

private:
    std::vector<std::string> *m_Order;
    std::string m_Name;
};

const std::regex kTimestamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6})");

TEST(EngineLog, LineHeaderOfEngineCall)
{
    RecordingSink sink;
    LogMessage("Error read LZMA2 properties", LogLevel_ERROR);
    ASSERT_EQ(sink.records.size(), 1u);
    const std::string &line = sink.records[0].line;
    ASSERT_GE(line.size(), 26u);
    EXPECT_TRUE(std::regex_match(line.substr(0, 26), kTimestamp)) << line;
    EXPECT_EQ(line.substr(26), "|ERROR   |              |   |Error read LZMA2 properties");
}

TEST(EngineLog, HeaderFieldsAndLevelNames)
{
    const std::string ts = "2026-01-02 03:04:05.000006";
    EXPECT_EQ(LogHeader(ts, LogLevel_DEVEL, "chan", 42),
              "2026-01-02 03:04:05.000006|DEVELOP |chan          |42 |");
    EXPECT_EQ(LogHeader(ts, LogLevel_WARNING, "a-channel-longer-than-14", 123456),
              "2026-01-02 03:04:05.000006|WARNING |a-channel-longer-than-14|123456|");
    const std::vector<std::string> names = {"CRITICAL", "ERROR", "WARNING",
                                            "DEBUG",    "INFO",  "DEVELOP"};
    for (int level = 0; level <= LogLevel_DEVEL; ++level)
        EXPECT_EQ(LogLevelName(static_cast<LogLevel>(level)), names[level]);
    EXPECT_TRUE(std::regex_match(LogTimestamp(), kTimestamp));
}

TEST(EngineLog, ContinuationLinesIndentUnderHeader)
{
    RecordingSink sink;
    LogMessage("first\nsecond", LogLevel_WARNING);
    ASSERT_EQ(sink.records.size(), 1u);
    const std::string &line = sink.records[0].line;
    const size_t header = line.find("first");
    ASSERT_NE(header, std::string::npos);
    EXPECT_EQ(line.substr(header), "first\n" + std::string(header, ' ') + "second");
}

TEST(EngineLog, SinksInRegistrationOrderAndLevelFilter)
{
    std::vector<std::string> order;
    RecordingSink a(&order, "a");
    {
        RecordingSink b(&order, "b");
        LogMessage("one", LogLevel_INFO);
    }
    LogMessage("two", LogLevel_INFO);
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "a"}));

    SetMaxLogLevel(LogLevel_ERROR);
    LogMessage("dropped", LogLevel_WARNING);
    LogMessage("kept", LogLevel_ERROR);
    SetMaxLogLevel(LogLevel_DEVEL);
    ASSERT_EQ(a.records.size(), 3u);
    EXPECT_NE(a.records[2].line.find("kept"), std::string::npos);
}

TEST(EngineLog, DatabaseNoiseIsDropped)
{
    RecordingSink sink;
    LogMessage("sqlite3_prepare failed no such column: string_id", LogLevel_ERROR, "DatabaseQuery");
    LogMessage("x db_exec() select * from instance_properties where string_id = 'y'",
               LogLevel_CRITICAL, "DatabaseQuery");
    EXPECT_TRUE(sink.records.empty());
    LogMessage("sqlite3_prepare failed no such column: string_id", LogLevel_ERROR, "Other");
    EXPECT_EQ(sink.records.size(), 1u);
}

TEST(EngineLogDeathTest, CriticalReachesSinksThenExits)
{
    EXPECT_EXIT(
        {
            struct Printer : LogBase
            {
                void Deliver(const std::string &, const std::string &, LogLevel,
                             const std::string &, uint64_t, const std::string &) override
                {
                    std::fputs("delivered ", stderr);
                }
                void Critical(const std::string &line, const std::string &, const std::string &,
                              uint64_t, const std::string &) override
                {
                    std::fputs(line.c_str(), stderr);
                }
            } printer;
            SetMaxLogLevel(LogLevel_CRITICAL);
            LogMessage("stop here", LogLevel_CRITICAL);
        },
        ::testing::ExitedWithCode(1), "delivered .*\\|CRITICAL\\|.*stop here");
    EXPECT_EXIT(ORVLOG_CHECK(1 + 1 == 3), ::testing::ExitedWithCode(1), "");
}

} // namespace
