#include "messagecapture.h"
#include "processtools.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

// A script that records its working directory and its arguments, one per
// line, in report; it is written elsewhere and renamed, so a reader never sees
// half of it.
void writeRecorderScript(const QString &path, const QString &report)
{
    QFile script(path);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\n{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > '" +
                 report.toUtf8() + ".part' && mv '" + report.toUtf8() + ".part' '" +
                 report.toUtf8() + "'\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QStringList waitForReport(const QString &report)
{
    QElapsedTimer timer;
    timer.start();
    while (!QFile::exists(report) && timer.elapsed() < 10000)
        QThread::msleep(20);
    QFile file(report);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

class ProcessToolsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(programDir.isValid());
        ASSERT_TRUE(reportDir.isValid());
    }

    QTemporaryDir programDir;
    QTemporaryDir reportDir;
};

TEST_F(ProcessToolsTest, NewUpdaterRunsInItsDirectoryWithTheArguments)
{
    const QString report = reportDir.path() + "/report";
    writeRecorderScript(programDir.path() + "/update", report);
    const QStringList args{"--clientupdate", "client_linux_amd64", "5001", "3.1.4 beta 'x'"};

    ProcessTools::startClientUpdater(programDir.path(), args);

    const QStringList lines = waitForReport(report);
    ASSERT_EQ(1 + args.size(), lines.size()) << qPrintable(lines.join('|'));
    EXPECT_EQ(QDir(programDir.path()).canonicalPath(), QDir(lines.at(0)).canonicalPath());
    EXPECT_EQ(args, lines.mid(1));
}

TEST_F(ProcessToolsTest, ClientScriptRunsInTheInstallationWithoutArguments)
{
    const QString report = reportDir.path() + "/report";
    writeRecorderScript(programDir.path() + "/ov3client_runscript.sh", report);

    ProcessTools::startOv3Client(programDir.path());

    const QStringList lines = waitForReport(report);
    ASSERT_EQ(1, lines.size()) << qPrintable(lines.join('|'));
    EXPECT_EQ(QDir(programDir.path()).canonicalPath(), QDir(lines.at(0)).canonicalPath());
}

TEST_F(ProcessToolsTest, MissingUpdaterIsOnlyLogged)
{
    // Only the client script is there; it must not be started in its place.
    const QString report = reportDir.path() + "/report";
    writeRecorderScript(programDir.path() + "/ov3client_runscript.sh", report);
    MessageCapture capture;

    ProcessTools::startClientUpdater(programDir.path(), {"--clientupdate"});

    EXPECT_TRUE(capture.contains({"Failed to find", programDir.path() + "/update"}))
        << qPrintable(capture.messages().join('\n'));
    EXPECT_FALSE(capture.contains({"starting"}));
    QThread::msleep(200);
    EXPECT_FALSE(QFile::exists(report));
}

} // namespace
