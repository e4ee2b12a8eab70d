#include "updatelog.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

// The log is process-wide and decides once whether it is on, so the whole
// suite runs with the marker in a private temporary directory.
class UpdateLogTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_Dir = new QTemporaryDir;
        qputenv("TMPDIR", s_Dir->path().toLocal8Bit());
        QFile marker(s_Dir->filePath("ov3_update_log"));
        marker.open(QIODevice::WriteOnly);
        marker.close();
        UpdateLog::instance();
        qInstallMessageHandler(updateLogMessageHandler);
    }

    static QStringList lines()
    {
        QFile file(UpdateLog::instance()->fileName());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLocal8Bit(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    static QTemporaryDir *s_Dir;
};

QTemporaryDir *UpdateLogTest::s_Dir = nullptr;

TEST_F(UpdateLogTest, EveryLevelHasItsSeparator)
{
    qDebug() << "level-debug";
    qInfo() << "level-info";
    qWarning() << "level-warning";
    qCritical() << "level-critical";
    qDebug() << "item" << QString("quoted") << 7;
    const QStringList all = lines();
    for (const char *expected :
         {"\t|\tDebug\t|\tlevel-debug", "\t|\tInfo\t|\tlevel-info",
          "\t|\tWarning\t|\tlevel-warning", "\t|\tCritical\t|\tlevel-critical",
          "\t|\tDebug\t|\titem \"quoted\" 7"}) {
        EXPECT_TRUE(std::any_of(all.begin(), all.end(),
                                [&](const QString &l) { return l.endsWith(expected); }))
            << expected;
    }
}

TEST_F(UpdateLogTest, LinesFromManyThreadsNeverInterleave)
{
    const int threads = 4;
    const int perThread = 2000;
    std::vector<std::unique_ptr<QThread>> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back(QThread::create([t] {
            for (int i = 0; i < perThread; ++i)
                qDebug("concurrent %d %d %s", t, i, "payload-payload-payload-payload");
        }));
        workers.back()->start();
    }
    for (auto &w : workers)
        w->wait();

    const QRegularExpression whole(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3}\t\|\tDebug\t\|\t)"
                                   R"(concurrent (\d) (\d+) payload-payload-payload-payload$)");
    std::vector<int> seen(threads, 0);
    for (const QString &line : lines()) {
        if (!line.contains("concurrent"))
            continue;
        const auto match = whole.match(line);
        ASSERT_TRUE(match.hasMatch()) << line.toStdString();
        const int t = match.captured(1).toInt();
        // Each thread's lines arrive complete and in its own order.
        EXPECT_EQ(match.captured(2).toInt(), seen[t]);
        ++seen[t];
    }
    for (int t = 0; t < threads; ++t)
        EXPECT_EQ(seen[t], perThread);
}

TEST_F(UpdateLogTest, FatalAbortsAfterItsLineIsWritten)
{
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_DEATH(qFatal("the last words"), "");
    ASSERT_FALSE(lines().isEmpty());
    EXPECT_TRUE(lines().last().endsWith("\t|\tFatal\t|\tthe last words"))
        << lines().last().toStdString();
}
