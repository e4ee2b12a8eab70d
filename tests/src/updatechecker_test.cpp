#include "httpdownloader.h"
#include "loopbackhttpserver.h"
#include "qobjecttracker.h"
#include "updatechecker.h"

#include "UpdateMessage.pb.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

const char *const VersionPath = "/ov3-client-2";

QByteArray versionsAnswer()
{
    com::orvane::update::Versions versions;
    versions.set_licenseagreementid(4);
    auto *stable = versions.add_channels();
    stable->set_name("stable");
    stable->set_version_number(5001);
    stable->set_version_string("3.1.4");
    auto *beta = versions.add_channels();
    beta->set_name("beta");
    beta->set_version_number(5010);
    beta->set_version_string("3.1.5-beta");
    const std::string bytes = versions.SerializeAsString();
    return QByteArray(bytes.data(), int(bytes.size()));
}

// Field 15, length-delimited, that the schema does not know: parsers skip it.
QByteArray unknownField(int size)
{
    QByteArray field(1, char(15 << 3 | 2));
    for (quint32 n = quint32(size);; n >>= 7) {
        if (n < 0x80) {
            field += char(n);
            break;
        }
        field += char((n & 0x7f) | 0x80);
    }
    return field + QByteArray(size, 'x');
}

const UpdateVersions expectedVersions{{"stable", {"5001", "3.1.4"}},
                                      {"beta", {"5010", "3.1.5-beta"}}};

// Everything the query creates; none of it may outlive the answer.
const QStringList queryClasses{"UpdateChecker", "HTTPDownloader", "QNetworkAccessManager",
                               "QNetworkReply"};

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

struct QueryCase
{
    const char *name;
    std::function<void(LoopbackHttpServer &)> setUp;
    bool answers;
    // An endpoint other than the server's version path.
    std::function<QString(LoopbackHttpServer &)> endpoint;
};

void PrintTo(const QueryCase &row, std::ostream *out)
{
    *out << row.name;
}

class VersionQuery : public ::testing::TestWithParam<QueryCase>
{
protected:
    void SetUp() override
    {
        registerUpdateVersionsMetaType();
        ASSERT_TRUE(server.start());
    }
    void TearDown() override { qunsetenv("OV3_VERSION_SERVER_URL"); }

    LoopbackHttpServer server;
};

TEST_P(VersionQuery, AnswersOnceAndLeavesNothingBehind)
{
    const QueryCase &row = GetParam();
    row.setUp(server);
    const QString endpoint =
        row.endpoint ? row.endpoint(server) : server.url(VersionPath).toString();
    qputenv("OV3_VERSION_SERVER_URL", endpoint.toUtf8());

    QObjectTracker tracker;
    QObject owner;
    UpdateChecker *checker = new UpdateChecker(&owner);
    QSignalSpy answered(checker, SIGNAL(update_available(UpdateVersions)));
    checker->checkForUpdate();
    ASSERT_TRUE(answered.wait(10000));

    const auto versions = answered.at(0).at(0).value<UpdateVersions>();
    if (row.answers)
        EXPECT_EQ(expectedVersions, versions);
    else
        EXPECT_TRUE(versions.isEmpty());

    EXPECT_TRUE(tracker.waitUntilNoneAlive(queryClasses));
    for (const QString &name : queryClasses)
        EXPECT_EQ(0, tracker.aliveCount(name.toLatin1().constData())) << qPrintable(name);
    EXPECT_EQ(1, answered.count());
}

INSTANTIATE_TEST_SUITE_P(
    Server, VersionQuery,
    ::testing::Values(
        QueryCase{"Valid",
                  [](LoopbackHttpServer &s) { s.serveBody(VersionPath, versionsAnswer()); }, true,
                  nullptr},
        QueryCase{"Redirected",
                  [](LoopbackHttpServer &s) {
                      s.serveRedirect(VersionPath, s.url("/moved/ov3-client-2").toString());
                      s.serveBody("/moved/ov3-client-2", versionsAnswer());
                  },
                  true, nullptr},
        QueryCase{"NotFound", [](LoopbackHttpServer &) {}, false, nullptr},
        QueryCase{"ServerErrorWithValidBody",
                  [](LoopbackHttpServer &s) { s.serveStatus(VersionPath, 500, versionsAnswer()); },
                  false, nullptr},
        QueryCase{"RedirectLoop",
                  [](LoopbackHttpServer &s) {
                      s.serveRedirect(VersionPath, s.url(VersionPath).toString());
                  },
                  false, nullptr},
        QueryCase{"EmptyBody", [](LoopbackHttpServer &s) { s.serveBody(VersionPath, ""); }, false,
                  nullptr},
        QueryCase{"GarbageBody",
                  [](LoopbackHttpServer &s) { s.serveBody(VersionPath, "\x12\x05stable"); }, false,
                  nullptr},
        QueryCase{
            "NotHttp",
            [](LoopbackHttpServer &s) { s.serveGarbage(VersionPath, "\x01\x02garbage\r\n\r\n"); },
            false, nullptr},
        QueryCase{"TruncatedBody",
                  [](LoopbackHttpServer &s) {
                      const QByteArray answer = versionsAnswer();
                      s.serveTruncated(VersionPath, answer, answer.size() - 3);
                  },
                  false, nullptr},
        QueryCase{"ClosedWithoutAnswer",
                  [](LoopbackHttpServer &s) {
                      LoopbackHttpServer::Response response;
                      response.fault = LoopbackHttpServer::Fault::CloseWithoutAnswer;
                      s.setResponse(VersionPath, response);
                  },
                  false, nullptr},
        // A valid message that carries megabytes in an unknown field: refused
        // for its size alone.
        QueryCase{"Oversized",
                  [](LoopbackHttpServer &s) {
                      s.serveBody(VersionPath,
                                  versionsAnswer() + unknownField(2 * HTTPDownloader::MaxBodySize));
                  },
                  false, nullptr},
        QueryCase{"ConnectionRefused", [](LoopbackHttpServer &) {}, false,
                  [](LoopbackHttpServer &) {
                      return QString("http://127.0.0.1:%1%2").arg(closedPort()).arg(VersionPath);
                  }}),
    [](const ::testing::TestParamInfo<QueryCase> &info) { return std::string(info.param.name); });

// The version query has no timeout; closing the application while it hangs
// must still wind its thread down before main returns.
TEST(HTTPDownloader, StalledQueryEndsWithTheApplication)
{
    LoopbackHttpServer server;
    ASSERT_TRUE(server.start());
    server.serveStall("/stall");
    QObjectTracker tracker;
    QPointer<HTTPDownloader> downloader = new HTTPDownloader(QNetworkRequest(server.url("/stall")));
    QSignalSpy spy(downloader.data(), SIGNAL(download_available(QByteArray)));
    downloader->start();
    QTimer::singleShot(300, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();

    EXPECT_EQ(1, server.requestCount("/stall"));
    // The thread ended and deleted its manager before exec() returned, and
    // the application's last clean-up deleted the downloader.
    EXPECT_EQ(0, tracker.aliveCount("QNetworkAccessManager"));
    EXPECT_TRUE(downloader.isNull());
    EXPECT_EQ(0, spy.count());
    if (downloader) {
        downloader->quit();
        delete downloader.data();
    }
}

TEST(HTTPDownloader, HandsBackTheBodyOrNothing)
{
    LoopbackHttpServer server;
    ASSERT_TRUE(server.start());
    const QByteArray body("\x00\x01 body bytes \xff", 15);
    server.serveBody("/file", body);

    for (const QString &path : {QString("/file"), QString("/missing")}) {
        HTTPDownloader *downloader = new HTTPDownloader(QNetworkRequest(server.url(path)));
        QSignalSpy spy(downloader, SIGNAL(download_available(QByteArray)));
        downloader->start();
        ASSERT_TRUE(spy.wait(10000)) << qPrintable(path);
        EXPECT_EQ(path == "/file" ? body : QByteArray(), spy.at(0).at(0).toByteArray());
        EXPECT_EQ(1, server.requestCount(path));
    }
    ASSERT_EQ(2, server.requests().size());
    EXPECT_EQ("GET", server.requests().at(0).method);
}

} // namespace
