#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "crypto.h"
#include "downloadtaskspecification.h"
#include "faultyfileserver.h"
#include "fileunpacktaskspecification_lzma2.h"
#include "inidownloadtaskspecification.h"
#include "plantesthelpers.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

#include <memory>

using plantest::waitUntil;

namespace {

const int kVersion = 31;
const QByteArray kIni = "[client]\nclient.bin = 00::1\n";
const QString kIniName = QStringLiteral("ov3_client_linux_amd64.ini");

bool ended(const TaskSpecification &task)
{
    return task.m_TaskState == TaskSpecification::FINISHED ||
           task.m_TaskState == TaskSpecification::FAILED ||
           task.m_TaskState == TaskSpecification::CANCELED;
}

class IniDownload : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { initCrypto(); }

    void SetUp() override
    {
        ASSERT_TRUE(m_Root.isValid() && m_Temp.isValid() && m_Work.isValid());
        m_Server = std::make_unique<FaultyFileServer>(m_Root.path());
        ASSERT_TRUE(m_Server->listen());
        Configuration::fileServerBaseUrl = m_Server->baseUrl();
        m_Nam.setProxy(QNetworkProxy::NoProxy);
        m_Config.m_UpdateStep = 1;
        m_Config.m_Version = kVersion;
        m_Config.m_TempDir = m_Temp.path();
    }

    QString served(const QString &name) const
    {
        return m_Root.path() + QStringLiteral("/%1/").arg(kVersion) + name;
    }
    QString local(const QString &name) const { return m_Temp.path() + QLatin1Char('/') + name; }

    // Signs data with the demo key and returns the signature bytes.
    QByteArray sign(const QByteArray &data)
    {
        const QString path = m_Work.path() + QStringLiteral("/signed.ini");
        EXPECT_TRUE(plantest::writeFile(path, data));
        QString errors;
        EXPECT_EQ(plantest::runTool(QStringLiteral("ov3-publish"),
                                    {QStringLiteral("sign"), plantest::demoPrivateKey(), path},
                                    &errors),
                  0)
            << errors.toStdString();
        return plantest::readFile(path + QStringLiteral(".sig"));
    }

    // Puts the packed product ini and its signature on the server.
    void publish(const QByteArray &ini, const QByteArray &sig)
    {
        const QString plain = m_Work.path() + QLatin1Char('/') + kIniName;
        ASSERT_TRUE(plantest::writeFile(plain, ini));
        QDir().mkpath(served(QString()));
        QString errors;
        ASSERT_EQ(plantest::runTool(QStringLiteral("ovpatch"),
                                    {QStringLiteral("pack"), QStringLiteral("--plain"), plain,
                                     served(kIniName + QStringLiteral("._lzma2_"))},
                                    &errors),
                  0)
            << errors.toStdString();
        ASSERT_TRUE(plantest::writeFile(served(kIniName + QStringLiteral(".sig")), sig));
    }

    std::unique_ptr<IniDownloadTaskSpecification> makeTask()
    {
        auto task = std::make_unique<IniDownloadTaskSpecification>(&m_Nam, &m_Config, nullptr, 0.1);
        QObject::connect(task.get(), &TaskSpecification::message,
                         [this](const QString &m) { m_Messages << m; });
        return task;
    }

    QTemporaryDir m_Root;
    QTemporaryDir m_Temp;
    QTemporaryDir m_Work;
    std::unique_ptr<FaultyFileServer> m_Server;
    QNetworkAccessManager m_Nam;
    Configuration m_Config;
    QStringList m_Messages;
};

// What is cached decides the plan: each row lists the subtasks by kind and
// weight, and the downloads by the name they request.
struct PlanCase
{
    const char *name;
    bool iniCached;
    bool sigCached;
    const char *kinds; // D = download, U = unpack, C = check
    QList<qreal> weights;
    QStringList downloads;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const PlanCase &c, std::ostream *os)
{
    *os << c.name;
}

class IniPlan : public IniDownload, public ::testing::WithParamInterface<PlanCase>
{
};

TEST_P(IniPlan, DependsOnWhatIsCached)
{
    const PlanCase &c = GetParam();
    if (c.iniCached)
        ASSERT_TRUE(plantest::writeFile(local(kIniName), kIni));
    if (c.sigCached)
        ASSERT_TRUE(plantest::writeFile(local(kIniName + QStringLiteral(".sig")), sign(kIni)));
    auto task = makeTask();
    task->execute();

    QString kinds;
    QList<qreal> weights;
    QStringList downloads;
    for (TaskSpecification *sub : task->m_Subtasks) {
        weights << sub->m_Weight;
        if (auto *d = qobject_cast<DownloadTaskSpecification *>(sub)) {
            kinds += QLatin1Char('D');
            downloads << d->m_Name;
            EXPECT_EQ(d->m_File.fileName(), local(d->m_Name));
            EXPECT_EQ(d->m_ExpectedSize, -1);
        } else if (dynamic_cast<FileUnpackTaskSpecification_lzma2 *>(sub)) {
            kinds += QLatin1Char('U');
        } else if (auto *check = qobject_cast<CheckSignatureTaskSpecification *>(sub)) {
            kinds += QLatin1Char('C');
            EXPECT_EQ(check->m_FilePath, local(kIniName));
            EXPECT_TRUE(check->m_Sha512.isEmpty());
            EXPECT_TRUE(check->m_FailOnMismatch);
        }
    }
    EXPECT_EQ(kinds, QString::fromLatin1(c.kinds));
    ASSERT_EQ(weights.size(), c.weights.size());
    for (int i = 0; i < weights.size(); ++i)
        EXPECT_NEAR(weights[i], c.weights[i], 1e-9) << i;
    EXPECT_EQ(downloads, c.downloads);
    EXPECT_EQ(m_Messages.value(0), QStringLiteral("Download / check product ini"));
    task->cancel();
    waitUntil([&] { return ended(*task); });
}

INSTANTIATE_TEST_SUITE_P(
    Plans, IniPlan,
    ::testing::Values(
        PlanCase{"NothingCached",
                 false,
                 false,
                 "DUDC",
                 {0.3333, 1.0, 0.3333, 0.3334},
                 {kIniName + QStringLiteral("._lzma2_"), kIniName + QStringLiteral(".sig")}},
        PlanCase{"SignatureCached",
                 false,
                 true,
                 "DUC",
                 {0.3333, 1.0, 0.6667},
                 {kIniName + QStringLiteral("._lzma2_")}},
        PlanCase{
            "IniCached", true, false, "DC", {0.3333, 0.6667}, {kIniName + QStringLiteral(".sig")}},
        PlanCase{"BothCached", true, true, "C", {1.0}, {}}),
    [](const ::testing::TestParamInfo<PlanCase> &info) { return std::string(info.param.name); });

TEST_F(IniDownload, FetchesUnpacksAndVerifiesASignedRelease)
{
    publish(kIni, sign(kIni));
    auto task = makeTask();
    task->execute();
    ASSERT_TRUE(waitUntil([&] { return ended(*task); }, 20000));
    EXPECT_EQ(task->m_TaskState, TaskSpecification::FINISHED)
        << m_Messages.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(plantest::readFile(local(kIniName)), kIni);
    EXPECT_EQ(
        m_Server->requests(),
        QStringList({QStringLiteral("%1/").arg(kVersion) + kIniName + QStringLiteral("._lzma2_"),
                     QStringLiteral("%1/").arg(kVersion) + kIniName + QStringLiteral(".sig")}));
    EXPECT_DOUBLE_EQ(task->m_Progress, 0.1);
}

TEST_F(IniDownload, TamperedReleaseStopsTheRun)
{
    // The signature belongs to other content than the served ini.
    publish(kIni + "evil.bin = 00::1\n", sign(kIni));
    auto task = makeTask();
    task->execute();
    ASSERT_TRUE(waitUntil([&] { return ended(*task); }, 20000));
    EXPECT_EQ(task->m_TaskState, TaskSpecification::FAILED);
    EXPECT_TRUE(
        m_Messages.contains(QStringLiteral("Could not verify the product ini file. Aborting")));
}

TEST_F(IniDownload, StaleUnsignedIniFetchesOnlyTheSignatureAndAborts)
{
    ASSERT_TRUE(plantest::writeFile(local(kIniName), kIni + "stale.bin = 00::1\n"));
    ASSERT_TRUE(plantest::writeFile(served(kIniName + QStringLiteral(".sig")), sign(kIni)));
    auto task = makeTask();
    task->execute();
    ASSERT_TRUE(waitUntil([&] { return ended(*task); }, 20000));
    EXPECT_EQ(task->m_TaskState, TaskSpecification::FAILED);
    EXPECT_EQ(m_Server->requests(), QStringList({QStringLiteral("%1/").arg(kVersion) + kIniName +
                                                 QStringLiteral(".sig")}));
    EXPECT_EQ(m_Messages.count(QStringLiteral("Could not verify the product ini file. Aborting")),
              1);
    // The pair that failed is not kept for the next run to fail on again.
    EXPECT_FALSE(QFile::exists(local(kIniName)));
    EXPECT_FALSE(QFile::exists(local(kIniName + QStringLiteral(".sig"))));
}

TEST_F(IniDownload, VerifiedCachedPairNeedsNoDownload)
{
    ASSERT_TRUE(plantest::writeFile(local(kIniName), kIni));
    ASSERT_TRUE(plantest::writeFile(local(kIniName + QStringLiteral(".sig")), sign(kIni)));
    auto task = makeTask();
    task->execute();
    ASSERT_TRUE(waitUntil([&] { return ended(*task); }));
    EXPECT_EQ(task->m_TaskState, TaskSpecification::FINISHED);
    EXPECT_TRUE(m_Server->requests().isEmpty());
}

TEST_F(IniDownload, MissingSignatureFailsAfterItsRetries)
{
    ASSERT_TRUE(plantest::writeFile(local(kIniName), kIni));
    auto task = makeTask();
    task->execute();
    ASSERT_TRUE(waitUntil([&] { return ended(*task); }));
    EXPECT_EQ(task->m_TaskState, TaskSpecification::FAILED);
    EXPECT_TRUE(m_Messages.contains(QStringLiteral("Unable to download %1.sig").arg(kIniName)));
    EXPECT_EQ(m_Server->requests().size(), 5);
}

} // namespace
