#include "configuration.h"
#include "downloadtaskspecification.h"
#include "faultyfileserver.h"
#include "plantesthelpers.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

#include <memory>

using plantest::waitUntil;

namespace {

const int kVersion = 7;

QByteArray randomBytes(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator gen(size);
    for (char &c : data)
        c = char(gen.bounded(256));
    return data;
}

bool ended(const TaskSpecification &task)
{
    return task.m_TaskState == TaskSpecification::FINISHED ||
           task.m_TaskState == TaskSpecification::FAILED ||
           task.m_TaskState == TaskSpecification::CANCELED;
}

class Download : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Root.isValid() && m_Temp.isValid());
        m_Server = std::make_unique<FaultyFileServer>(m_Root.path());
        ASSERT_TRUE(m_Server->listen());
        Configuration::fileServerBaseUrl = m_Server->baseUrl();
        m_Nam.setProxy(QNetworkProxy::NoProxy);
    }

    // Puts data on the server as name below the version folder.
    void serve(const QString &name, const QByteArray &data)
    {
        ASSERT_TRUE(
            plantest::writeFile(m_Root.path() + QStringLiteral("/%1/").arg(kVersion) + name, data));
    }
    QString serverPath(const QString &name) const
    {
        return QStringLiteral("%1/").arg(kVersion) + name;
    }
    QString target() const { return m_Temp.path() + QStringLiteral("/file.bin"); }

    std::unique_ptr<DownloadTaskSpecification> makeTask(const QString &name, qint64 expected,
                                                        const QString &path = QString())
    {
        auto task = std::make_unique<DownloadTaskSpecification>(
            &m_Nam, name, kVersion, path.isEmpty() ? target() : path, expected, nullptr, 0.8);
        QObject::connect(task.get(), &TaskSpecification::message,
                         [this](const QString &m) { m_Messages << m; });
        QObject::connect(task.get(), &TaskSpecification::error,
                         [this](const QString &m) { m_Errors << m; });
        return task;
    }

    QTemporaryDir m_Root;
    QTemporaryDir m_Temp;
    std::unique_ptr<FaultyFileServer> m_Server;
    QNetworkAccessManager m_Nam;
    QStringList m_Messages;
    QStringList m_Errors;
};

TEST_F(Download, StreamsTheFileAndReportsItsCounters)
{
    const QByteArray data = randomBytes(300 * 1024 + 17);
    serve(QStringLiteral("sec/file.bin"), data);
    auto task = makeTask(QStringLiteral("sec/file.bin"), data.size());
    QList<qreal> progress;
    QObject::connect(task.get(), &TaskSpecification::updateProgress,
                     [&progress](qreal p) { progress << p; });

    task->execute();
    ASSERT_TRUE(waitUntil([&] { return ended(*task); }));
    EXPECT_EQ(task->m_TaskState, TaskSpecification::FINISHED);
    EXPECT_EQ(plantest::readFile(target()), data);
    EXPECT_EQ(m_Messages, QStringList({QStringLiteral("Downloading sec/file.bin"),
                                       QStringLiteral("Downloading sec/file.bin finished")}));
    // One step per piece of at most 4096 bytes.
    EXPECT_GE(progress.size(), data.size() / 4096);
    EXPECT_DOUBLE_EQ(progress.last(), 0.8);

    quint64 done = 0, total = 0, speed = 0;
    bool downloading = true;
    task->getDownloadProgress(done, total, speed, downloading);
    EXPECT_EQ(done, quint64(data.size()));
    EXPECT_EQ(total, quint64(data.size()));
    EXPECT_EQ(speed, quint64(data.size()));
    task->getDownloadProgress(done, total, speed, downloading);
    EXPECT_EQ(speed, 0u);
    EXPECT_EQ(m_Server->requests(), QStringList({serverPath(QStringLiteral("sec/file.bin"))}));
}

struct FaultCase
{
    const char *name;
    FaultyFileServer::Fault fault;
    const char *message; // expected failure text, or null for Qt's own error text
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const FaultCase &c, std::ostream *os)
{
    *os << c.name;
}

class DownloadFault : public Download, public ::testing::WithParamInterface<FaultCase>
{
};

TEST_P(DownloadFault, IsRetriedFromTheFirstByte)
{
    const QByteArray data = randomBytes(64 * 1024);
    serve(QStringLiteral("f.bin"), data);
    m_Server->setFaults(serverPath(QStringLiteral("f.bin")), {GetParam().fault});
    auto task = makeTask(QStringLiteral("f.bin"), data.size());

    task->execute();
    ASSERT_TRUE(waitUntil([&] { return ended(*task); }));
    EXPECT_EQ(task->m_TaskState, TaskSpecification::FINISHED);
    EXPECT_EQ(plantest::readFile(target()), data);
    EXPECT_EQ(m_Server->requestCount(serverPath(QStringLiteral("f.bin"))), 2);
    ASSERT_EQ(m_Messages.size(), 3) << m_Messages.join(QLatin1Char('|')).toStdString();
    if (GetParam().message)
        EXPECT_EQ(m_Messages[1], QString::fromLatin1(GetParam().message));
    else
        EXPECT_FALSE(m_Messages[1].isEmpty());
    EXPECT_EQ(task->m_Retries, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, DownloadFault,
    ::testing::Values(FaultCase{"NotFound", FaultyFileServer::NotFound, "f.bin returned 404"},
                      FaultCase{"Redirect", FaultyFileServer::Redirect, "f.bin returned 302"},
                      FaultCase{"ServerError", FaultyFileServer::ServerError, "f.bin returned 500"},
                      FaultCase{"CutShort", FaultyFileServer::CutShort, nullptr},
                      FaultCase{"Reset", FaultyFileServer::Reset, nullptr}),
    [](const ::testing::TestParamInfo<FaultCase> &info) { return std::string(info.param.name); });

TEST_F(Download, GivesUpAfterFiveAttemptsAndLeavesNoFile)
{
    m_Server->setPermanentFault(serverPath(QStringLiteral("gone.bin")), FaultyFileServer::NotFound);
    auto task = makeTask(QStringLiteral("gone.bin"), 10);

    task->execute();
    ASSERT_TRUE(waitUntil([&] { return ended(*task); }));
    EXPECT_EQ(task->m_TaskState, TaskSpecification::FAILED);
    EXPECT_EQ(m_Server->requestCount(serverPath(QStringLiteral("gone.bin"))), 5);
    QStringList expected{QStringLiteral("Downloading gone.bin")};
    for (int i = 0; i < 5; ++i)
        expected << QStringLiteral("gone.bin returned 404");
    expected << QStringLiteral("Unable to download gone.bin");
    EXPECT_EQ(m_Messages, expected);
    EXPECT_FALSE(QFile::exists(target()));
}

TEST_F(Download, StallIsAbandonedAtTheSixteenthQuietPollAndRestarted)
{
    const QByteArray data = randomBytes(200 * 1024);
    serve(QStringLiteral("slow.bin"), data);
    m_Server->setFaults(serverPath(QStringLiteral("slow.bin")), {FaultyFileServer::Stall});
    auto task = makeTask(QStringLiteral("slow.bin"), -1);

    quint64 done = 0, total = 1, speed = 0;
    bool downloading = false;
    task->execute();
    // The size is unknown until the server announces it.
    task->getDownloadProgress(done, total, speed, downloading);
    EXPECT_EQ(total, 0u);
    ASSERT_TRUE(waitUntil([&] { return task->m_Received == data.size() / 2; }));
    EXPECT_EQ(QFile(target()).size(), data.size() / 2);

    // The engine's timer polls once a second; here the polls come back to back
    // while no data arrives.
    for (int poll = 1; poll <= 15; ++poll) {
        downloading = false;
        task->getDownloadProgress(done, total, speed, downloading);
        ASSERT_TRUE(downloading) << "poll " << poll;
    }
    EXPECT_FALSE(m_Messages.contains(QStringLiteral("file slow.bin timed out")));
    downloading = false;
    task->getDownloadProgress(done, total, speed, downloading);
    EXPECT_FALSE(downloading);
    EXPECT_TRUE(m_Messages.contains(QStringLiteral("file slow.bin timed out")));
    EXPECT_EQ(task->m_Received, 0);
    EXPECT_EQ(QFile(target()).size(), 0);

    ASSERT_TRUE(waitUntil([&] { return ended(*task); }));
    EXPECT_EQ(task->m_TaskState, TaskSpecification::FINISHED);
    EXPECT_EQ(plantest::readFile(target()), data);
    EXPECT_EQ(m_Server->requestCount(serverPath(QStringLiteral("slow.bin"))), 2);
    // The size the server announced became the total.
    task->getDownloadProgress(done, total, speed, downloading);
    EXPECT_EQ(total, quint64(data.size()));
}

TEST_F(Download, ArrivingDataRestartsTheQuietCount)
{
    const QByteArray data = randomBytes(100 * 1024);
    serve(QStringLiteral("steady.bin"), data);
    m_Server->setPermanentFault(serverPath(QStringLiteral("steady.bin")), FaultyFileServer::Stall);
    auto task = makeTask(QStringLiteral("steady.bin"), data.size());
    quint64 done = 0, total = 0, speed = 0;
    bool downloading = false;
    task->execute();
    // Fourteen quiet polls before the first byte; then data arrives and fifteen
    // more quiet polls are allowed.
    for (int i = 0; i < 14; ++i)
        task->getDownloadProgress(done, total, speed, downloading);
    ASSERT_TRUE(waitUntil([&] { return task->m_Received == data.size() / 2; }));
    for (int poll = 1; poll <= 15; ++poll) {
        downloading = false;
        task->getDownloadProgress(done, total, speed, downloading);
        ASSERT_TRUE(downloading) << "poll " << poll;
    }
    EXPECT_FALSE(m_Messages.contains(QStringLiteral("file steady.bin timed out")));
    task->cancel();
}

TEST_F(Download, CancelRemovesThePartialFile)
{
    const QByteArray data = randomBytes(100 * 1024);
    serve(QStringLiteral("c.bin"), data);
    m_Server->setPermanentFault(serverPath(QStringLiteral("c.bin")), FaultyFileServer::Stall);
    auto task = makeTask(QStringLiteral("c.bin"), data.size());
    QList<TaskSpecification *> canceled;
    QObject::connect(task.get(), &TaskSpecification::canceled,
                     [&canceled](TaskSpecification *t) { canceled << t; });

    task->execute();
    ASSERT_TRUE(waitUntil([&] { return task->m_Received == data.size() / 2; }));
    ASSERT_TRUE(QFile::exists(target()));
    task->cancel();
    EXPECT_EQ(task->m_TaskState, TaskSpecification::CANCELED);
    EXPECT_EQ(canceled, QList<TaskSpecification *>({task.get()}));
    EXPECT_FALSE(QFile::exists(target()));
    EXPECT_EQ(task->m_Reply, nullptr);
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(m_Server->requestCount(serverPath(QStringLiteral("c.bin"))), 1);
}

TEST_F(Download, UncreatableTargetFailsAtOnce)
{
    serve(QStringLiteral("x.bin"), "x");
    const QString path = m_Temp.path() + QStringLiteral("/no/such/dir/x.bin");
    auto task = makeTask(QStringLiteral("x.bin"), 1, path);
    task->execute();
    EXPECT_EQ(task->m_TaskState, TaskSpecification::FAILED);
    EXPECT_EQ(m_Errors,
              QStringList({QStringLiteral("Unable to create file %1 for saving").arg(path)}));
    waitUntil([] { return false; }, 100);
    EXPECT_TRUE(m_Server->requests().isEmpty());
}

TEST_F(Download, UrlIsBaseVersionAndName)
{
    Configuration::fileServerBaseUrl =
        QStringLiteral("http://files.example/updater-images/client/");
    EXPECT_EQ(DownloadTaskSpecification::downloadUrl(1234, QStringLiteral("client/a b.bin")),
              QStringLiteral("http://files.example/updater-images/client/1234/client/a b.bin"));
}

} // namespace
