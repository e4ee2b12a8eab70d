#include "singleinstancechecker.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUuid>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QString uniqueName()
{
    return "OV3Test" + QUuid::createUuid().toString(QUuid::Id128);
}

} // namespace

TEST(SingleInstanceName, SamePathIgnoringCaseAndSameHomeShareTheName)
{
    struct Case
    {
        const char *pathA, *homeA, *pathB, *homeB;
        bool same;
    };
    const Case cases[] = {
        {"/opt/App/update", "/home/ann", "/opt/app/update", "/home/ann", true},
        {"/opt/app/update", "/home/ann", "/opt/app/update", "/home/bob", false},
        {"/opt/app/update", "/home/ann", "/opt/other/update", "/home/ann", false},
        // The home directory keeps its case.
        {"/opt/app/update", "/home/Ann", "/opt/app/update", "/home/ann", false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(SingleInstanceChecker::serverName(c.pathA, c.homeA) ==
                      SingleInstanceChecker::serverName(c.pathB, c.homeB),
                  c.same)
            << c.pathA << c.homeA << " vs " << c.pathB << c.homeB;
    }
}

TEST(SingleInstanceName, IsPrefixAndLowerCaseHexCrcOfPathAndHome)
{
    const QString name = SingleInstanceChecker::serverName("/Opt/A:b/update", "/home/x");
    // "/" and ":" are dropped after lowering the path: "optabupdatehomex".
    const QByteArray key = "optabupdatehomex";
    const quint16 crc = qChecksum(key.constData(), uint(key.size()));
    EXPECT_EQ(name, "OV3ClientUpdate" + QString::number(crc, 16));
    EXPECT_TRUE(name.mid(15) == name.mid(15).toLower());
}

TEST(SingleInstanceGuard, EachKnockRaisesOnceAndIsClosedAfterItsRead)
{
    const QString name = uniqueName();
    SingleInstanceChecker checker(name, nullptr);
    ASSERT_TRUE(checker.isListening());
    QSignalSpy spy(&checker, SIGNAL(otherInstanceActivate(QString)));

    for (int knock = 1; knock <= 3; ++knock) {
        QLocalSocket socket;
        socket.connectToServer(name);
        ASSERT_TRUE(socket.waitForConnected(1000));
        socket.write(QByteArray("#\0junk", 6));
        ASSERT_TRUE(socket.waitForBytesWritten(1000));
        ASSERT_TRUE(spy.wait(5000));
        EXPECT_EQ(spy.size(), knock);
        // Text ends at the first NUL byte.
        EXPECT_EQ(spy.last().first().toString(), "#");
        // The receiver closes the connection after its first read.
        QDeadlineTimer deadline(5000);
        while (socket.state() != QLocalSocket::UnconnectedState && !deadline.hasExpired()) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
            socket.waitForDisconnected(10);
        }
        EXPECT_EQ(socket.state(), QLocalSocket::UnconnectedState);
    }
}

TEST(SingleInstanceGuard, KnockWithoutRunningInstanceFails)
{
    EXPECT_FALSE(SingleInstanceChecker::notifyRunningInstance(uniqueName(), "#"));
}

// A crashed run leaves its socket file behind; the next run must still be
// reachable by later knocks.
TEST(SingleInstanceGuard, StaleSocketFileIsTakenOver)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("stale");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray encoded = path.toLocal8Bit();
    ASSERT_LT(size_t(encoded.size()), sizeof(addr.sun_path));
    memcpy(addr.sun_path, encoded.constData(), size_t(encoded.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)), 0);
    ::close(fd); // the file stays, nobody listens: what a crash leaves

    SingleInstanceChecker checker(path, nullptr);
    ASSERT_TRUE(checker.isListening());
    QSignalSpy spy(&checker, SIGNAL(otherInstanceActivate(QString)));
    QLocalSocket socket;
    socket.connectToServer(path);
    ASSERT_TRUE(socket.waitForConnected(1000));
    socket.write("#");
    ASSERT_TRUE(spy.wait(5000));
}

TEST(SingleInstanceGuard, LiveInstanceIsNotTakenOver)
{
    const QString name = uniqueName();
    SingleInstanceChecker first(name, nullptr);
    ASSERT_TRUE(first.isListening());
    QSignalSpy spy(&first, SIGNAL(otherInstanceActivate(QString)));
    SingleInstanceChecker second(name, nullptr);
    EXPECT_FALSE(second.isListening());

    QLocalSocket socket;
    socket.connectToServer(name);
    ASSERT_TRUE(socket.waitForConnected(1000));
    socket.write("#");
    ASSERT_TRUE(spy.wait(5000));
}
