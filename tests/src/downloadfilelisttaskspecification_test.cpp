#include "configuration.h"
#include "downloadfilelisttaskspecification.h"
#include "downloadfiletaskspecification.h"
#include "downloadtaskspecification.h"
#include "faultyfileserver.h"
#include "makedownloadreplacelistfunc.h"
#include "plantesthelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using plantest::sha512Hex;
using plantest::waitUntil;

namespace {

const int kVersion = 12;

bool ended(const TaskSpecification &task)
{
    return task.m_TaskState == TaskSpecification::FINISHED ||
           task.m_TaskState == TaskSpecification::FAILED ||
           task.m_TaskState == TaskSpecification::CANCELED;
}

class DownloadList : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Root.isValid() && m_Temp.isValid());
        m_Server = std::make_unique<FaultyFileServer>(m_Root.path());
        ASSERT_TRUE(m_Server->listen());
        Configuration::fileServerBaseUrl = m_Server->baseUrl();
        m_Nam.setProxy(QNetworkProxy::NoProxy);
        m_Config.m_TempDir = m_Temp.path();
        m_Config.m_Version = kVersion;
        m_Config.m_Streams = 2;
    }

    // Serves data as section/name and returns the matching entry.
    DownloadEntry serve(const QString &section, const QString &name, const QByteArray &data)
    {
        const QString rel = section + QLatin1Char('/') + name;
        EXPECT_TRUE(
            plantest::writeFile(m_Root.path() + QStringLiteral("/%1/").arg(kVersion) + rel, data));
        DownloadEntry e;
        e.section = section;
        e.name = name;
        e.sha512 = sha512Hex(data);
        e.size = quint64(data.size());
        return e;
    }
    QString serverPath(const DownloadEntry &e) const
    {
        return QStringLiteral("%1/").arg(kVersion) + e.section + QLatin1Char('/') + e.name;
    }

    std::unique_ptr<DownloadFileListTaskSpecification> makeTask()
    {
        auto task = std::make_unique<DownloadFileListTaskSpecification>(&m_List, &m_Nam, &m_Config,
                                                                        nullptr, 0.4);
        QObject::connect(task.get(), &TaskSpecification::message,
                         [this](const QString &m) { m_Messages << m; });
        return task;
    }

    QTemporaryDir m_Root;
    QTemporaryDir m_Temp;
    std::unique_ptr<FaultyFileServer> m_Server;
    QNetworkAccessManager m_Nam;
    Configuration m_Config;
    QList<DownloadEntry> m_List;
    QStringList m_Messages;
};

TEST_F(DownloadList, EmptyListFinishesAtOnce)
{
    auto task = makeTask();
    task->execute();
    EXPECT_EQ(task->m_TaskState, TaskSpecification::FINISHED);
    EXPECT_EQ(m_Messages, QStringList({QStringLiteral("No downloads needed")}));
}

TEST_F(DownloadList, CreatesFoldersFirstThenFetchesAndChecksEveryFile)
{
    m_List << serve(QStringLiteral("client"), QStringLiteral("a/b/c.bin"), QByteArray(5000, 'c'))
           << serve(QStringLiteral("client"), QStringLiteral("a/d.bin"), QByteArray(7000, 'd'))
           << serve(QStringLiteral("other"), QStringLiteral("e.bin"), QByteArray(9000, 'e'));
    // The server holds different bytes than the plan announces for e.bin.
    m_List[2].sha512 = sha512Hex("not what is served");
    bool foldersReady = false;
    QObject::connect(m_Server.get(), &FaultyFileServer::requested, [&] {
        if (m_Server->requests().size() == 1)
            foldersReady = QFileInfo(m_Temp.path() + QStringLiteral("/a/b")).isDir();
    });
    auto task = makeTask();

    task->execute();
    ASSERT_TRUE(waitUntil([&] { return ended(*task); }));
    EXPECT_EQ(task->m_TaskState, TaskSpecification::FINISHED);
    EXPECT_TRUE(foldersReady);
    EXPECT_EQ(plantest::readFile(m_Temp.path() + QStringLiteral("/a/b/c.bin")),
              QByteArray(5000, 'c'));
    EXPECT_EQ(plantest::readFile(m_Temp.path() + QStringLiteral("/a/d.bin")),
              QByteArray(7000, 'd'));
    // A failed hash check is reported; the file stays for the later steps to judge.
    EXPECT_TRUE(m_Messages.contains(QStringLiteral("Signature check failed for %1")
                                        .arg(m_Temp.path() + QStringLiteral("/e.bin"))));
    EXPECT_TRUE(QFile::exists(m_Temp.path() + QStringLiteral("/e.bin")));
    EXPECT_EQ(m_Messages.value(0), QStringLiteral("Downloading files"));
    EXPECT_DOUBLE_EQ(task->m_Progress, 0.4);
    QStringList requested = m_Server->requests();
    requested.sort();
    EXPECT_EQ(requested,
              QStringList({serverPath(m_List[0]), serverPath(m_List[1]), serverPath(m_List[2])}));
}

TEST_F(DownloadList, RunsTheConfiguredNumberOfStreamsAndReportsPlannedBytes)
{
    for (const char *name : {"one.bin", "two.bin", "three.bin"}) {
        m_List << serve(QStringLiteral("s"), QString::fromLatin1(name), QByteArray(40000, 'x'));
        m_Server->setPermanentFault(serverPath(m_List.last()), FaultyFileServer::Stall);
    }
    auto task = makeTask();
    task->execute();
    ASSERT_TRUE(waitUntil([&] { return m_Server->stalledConnections() == 2; }));
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(m_Server->requests().size(), 2);
    ASSERT_TRUE(waitUntil([&] {
        quint64 done = 0, total = 0, speed = 0;
        bool downloading = false;
        task->getDownloadProgress(done, total, speed, downloading);
        return done == 40000;
    }));
    quint64 done = 0, total = 0, speed = 0;
    bool downloading = false;
    task->getDownloadProgress(done, total, speed, downloading);
    EXPECT_TRUE(downloading);
    EXPECT_EQ(done, 40000u);
    EXPECT_EQ(total, 120000u);

    // Cancelling stops both transfers, removes their partial files and starts
    // nothing more.
    task->cancel();
    ASSERT_TRUE(waitUntil([&] { return ended(*task); }));
    EXPECT_EQ(task->m_TaskState, TaskSpecification::CANCELED);
    EXPECT_FALSE(QFile::exists(m_Temp.path() + QStringLiteral("/one.bin")));
    EXPECT_FALSE(QFile::exists(m_Temp.path() + QStringLiteral("/two.bin")));
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(m_Server->requests().size(), 2);
}

TEST_F(DownloadList, FailedDownloadAbortsItsSiblings)
{
    m_List << serve(QStringLiteral("s"), QStringLiteral("slow.bin"), QByteArray(40000, 's'))
           << serve(QStringLiteral("s"), QStringLiteral("missing.bin"), "m")
           << serve(QStringLiteral("s"), QStringLiteral("never.bin"), "n");
    m_Server->setPermanentFault(serverPath(m_List[0]), FaultyFileServer::Stall);
    m_Server->setPermanentFault(serverPath(m_List[1]), FaultyFileServer::NotFound);
    auto task = makeTask();

    task->execute();
    ASSERT_TRUE(waitUntil([&] { return ended(*task); }));
    EXPECT_EQ(task->m_TaskState, TaskSpecification::FAILED);
    EXPECT_TRUE(m_Messages.contains(QStringLiteral("Unable to download s/missing.bin")));
    EXPECT_TRUE(m_Messages.contains(QStringLiteral("Abort downloading s/slow.bin")));
    EXPECT_FALSE(QFile::exists(m_Temp.path() + QStringLiteral("/slow.bin")));
    EXPECT_FALSE(QFile::exists(m_Temp.path() + QStringLiteral("/missing.bin")));
    EXPECT_EQ(m_Server->requestCount(serverPath(m_List[2])), 0);
    auto *slow = qobject_cast<DownloadFileTaskSpecification *>(task->m_Subtasks[0]);
    ASSERT_NE(slow, nullptr);
    EXPECT_EQ(slow->m_Download->m_TaskState, TaskSpecification::FAILED);
    EXPECT_EQ(task->m_Subtasks[2]->m_TaskState, TaskSpecification::NOT_STARTED);
}

TEST_F(DownloadList, UncreatableFolderFailsBeforeAnyDownload)
{
    ASSERT_TRUE(plantest::writeFile(m_Temp.path() + QStringLiteral("/a"), "a file, not a folder"));
    m_List << serve(QStringLiteral("s"), QStringLiteral("ok.bin"), "ok")
           << serve(QStringLiteral("s"), QStringLiteral("a/b.bin"), "b");
    auto task = makeTask();
    task->execute();
    EXPECT_EQ(task->m_TaskState, TaskSpecification::FAILED);
    EXPECT_EQ(m_Messages, QStringList({QStringLiteral("Could not create dir %1/a")
                                           .arg(QDir(m_Temp.path()).canonicalPath())}));
    waitUntil([] { return false; }, 100);
    EXPECT_TRUE(m_Server->requests().isEmpty());
}

// Against a served release and an installed tree: the compiled plan fetches
// exactly the files the decision table calls for, and each arrives intact.
TEST_F(DownloadList, CompiledPlanFetchesExactlyWhatIsNeeded)
{
    QTemporaryDir install;
    QTemporaryDir work;
    ASSERT_TRUE(install.isValid() && work.isValid());
    m_Config.m_InstallDir = install.path();
    m_Config.m_UpdateStep = 1;
    m_Config.m_Streams = 3;
    const QString release = m_Root.path() + QStringLiteral("/%1/client/").arg(kVersion);
    auto put = [](const QString &path, const QByteArray &data) {
        EXPECT_TRUE(plantest::writeFile(path, data));
    };
    auto pack = [&](const QByteArray &data, const QString &package) {
        const QString plain = work.path() + QStringLiteral("/plain");
        put(plain, data);
        QString errors;
        EXPECT_EQ(plantest::runTool(
                      QStringLiteral("ovpatch"),
                      {QStringLiteral("pack"), QStringLiteral("--plain"), plain, package}, &errors),
                  0)
            << errors.toStdString();
        return plantest::readFile(package);
    };
    auto fields = [](const QByteArray &data) {
        return sha512Hex(data) + QStringLiteral("::") + QString::number(data.size());
    };

    const QByteArray current(3000, 'c'), missing(70000, 'm'), changedNew(5000, 'n');
    const QByteArray libOld(90000, 'o'), libNew(90000, 'p'), dataNew(120000, 'd');
    const QByteArray cached(4000, 'k');
    put(release + QStringLiteral("bin/current.bin"), current);
    put(release + QStringLiteral("bin/missing.bin"), missing);
    put(release + QStringLiteral("changed.bin"), changedNew);
    put(release + QStringLiteral("cached.bin"), cached);
    const QByteArray libPackage = pack(libNew, release + QStringLiteral("lib._lzma2_"));
    const QByteArray dataPackage = pack(dataNew, release + QStringLiteral("data._lzma2_"));
    const QByteArray libPatch = "bytes of the patch from the old to the new library";
    put(release + QStringLiteral("libx_patch_"), libPatch);

    const QString ini =
        QStringLiteral("[client]\n") + QStringLiteral("bin/current.bin = ") + fields(current) +
        QStringLiteral("\nbin/missing.bin = ") + fields(missing) +
        QStringLiteral("\nchanged.bin = ") + fields(changedNew) +
        QStringLiteral("\ncached.bin = ") + fields(cached) + QStringLiteral("\nlib._lzma2_ = ") +
        fields(libPackage) + QStringLiteral("::") + fields(libNew) +
        QStringLiteral("::lib/libx.so\nlibx_patch_ = ") + fields(libPatch) + QStringLiteral("::") +
        fields(libOld) + QStringLiteral("::lib/libx.so\ndata._lzma2_ = ") + fields(dataPackage) +
        QStringLiteral("::") + fields(dataNew) + QStringLiteral("::data/d.dat\n");
    put(m_Temp.path() + QStringLiteral("/ov3_client_linux_amd64.ini"), ini.toUtf8());
    put(install.path() + QStringLiteral("/bin/current.bin"), current);
    put(install.path() + QStringLiteral("/changed.bin"), "an older changed.bin");
    put(install.path() + QStringLiteral("/lib/libx.so"), libOld);
    put(install.path() + QStringLiteral("/data/d.dat"), "edited by the user");
    put(m_Temp.path() + QStringLiteral("/cached.bin"), cached);

    DownloadReplaceLists lists;
    MakeDownloadReplaceListFunc compile(&m_Config, &lists);
    ASSERT_TRUE(compile.run());
    EXPECT_EQ(lists.replaceList.size(), 5);
    m_List = lists.downloadList;

    auto task = makeTask();
    task->execute();
    ASSERT_TRUE(waitUntil([&] { return ended(*task); }, 20000));
    EXPECT_EQ(task->m_TaskState, TaskSpecification::FINISHED);

    QStringList requested = m_Server->requests();
    requested.sort();
    const QString prefix = QStringLiteral("%1/client/").arg(kVersion);
    EXPECT_EQ(requested, QStringList({prefix + QStringLiteral("bin/missing.bin"),
                                      prefix + QStringLiteral("changed.bin"),
                                      prefix + QStringLiteral("data._lzma2_"),
                                      prefix + QStringLiteral("libx_patch_")}));
    for (const DownloadEntry &e : qAsConst(m_List))
        EXPECT_EQ(sha512Hex(plantest::readFile(m_Temp.path() + QLatin1Char('/') + e.name)),
                  e.sha512)
            << e.name.toStdString();
    EXPECT_FALSE(
        m_Messages.join(QLatin1Char('\n')).contains(QStringLiteral("Signature check failed")));
}

} // namespace
