#include "configuration.h"
#include "downloadreplacelists.h"
#include "prepostinstalllisttaskspecification.h"
#include "prepostinstalltaskspecification.h"

#include "fileopstesthelpers.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fileopstest;

namespace {

// Stands in for the window, which asks the user whether to restart.
class RebootReceiver : public QObject
{
    Q_OBJECT
public:
    int m_Calls = 0;
public slots:
    void onRebootWithConfirmation() { ++m_Calls; }
};

class PrePostInstallTest : public ::testing::Test
{
protected:
    void SetUp() override { m_Config.m_TempDir = m_Dir.path(); }

    // A shell script in the temporary directory that records its arguments
    // (one per line) and exits with code.
    CommandEntry command(const QString &name, int code, bool required,
                         const QStringList &args = QStringList())
    {
        const QString script = QString("#!/bin/sh\n"
                                       "for a in \"$@\"; do echo \"$a\"; done > \"%1.args\"\n"
                                       "exit %2\n")
                                   .arg(m_Dir.filePath(name))
                                   .arg(code);
        writeFile(m_Dir.filePath(name), script.toUtf8());
        QFile::setPermissions(m_Dir.filePath(name), QFileDevice::ReadOwner |
                                                        QFileDevice::WriteOwner |
                                                        QFileDevice::ExeOwner);
        return CommandEntry{name, args, required};
    }

    bool ran(const QString &name) const
    {
        return QFileInfo::exists(m_Dir.filePath(name + ".args"));
    }

    TaskSpecification::TaskState runList(const QList<CommandEntry> &list, QStringList *messages)
    {
        PrePostInstallListTaskSpecification task(&list, &m_Config, nullptr, 0.1);
        EXPECT_TRUE(runTask(&task, messages));
        return task.m_TaskState;
    }

    QTemporaryDir m_Dir;
    Configuration m_Config;
};

TEST_F(PrePostInstallTest, ArgumentsGetTwoHyphensAndTheProgramRunsFromTheTemporaryDirectory)
{
    QStringList messages;
    EXPECT_EQ(runList({command("setup.sh", 0, true, {"a", "b=1", "dir=/x y"})}, &messages),
              TaskSpecification::FINISHED);
    EXPECT_EQ(readFile(m_Dir.filePath("setup.sh.args")), "--a\n--b=1\n--dir=/x y\n");
    EXPECT_EQ(messages, QStringList({"Starting install condition", "Starting setup.sh",
                                     "setup.sh completed sucessfully"}));
}

struct ExitCase
{
    const char *name;
    int code;
    bool required;
    TaskSpecification::TaskState state;
    QStringList lastMessages;
};

class PrePostInstallExitTest : public PrePostInstallTest,
                               public ::testing::WithParamInterface<ExitCase>
{
};

// The exit-code contract; a failed command stops the list, so the command
// after it never runs.
TEST_P(PrePostInstallExitTest, ExitCodeDecides)
{
    const ExitCase &c = GetParam();
    RebootReceiver receiver;
    PrePostInstallTaskSpecification::setRebootReceiver(&receiver);
    QStringList messages;
    const TaskSpecification::TaskState state =
        runList({command("cmd", c.code, c.required), command("next", 0, true)}, &messages);
    PrePostInstallTaskSpecification::setRebootReceiver(nullptr);
    QCoreApplication::processEvents();

    EXPECT_EQ(state, c.state);
    EXPECT_EQ(ran("next"), c.state == TaskSpecification::FINISHED);
    const int afterStart = messages.indexOf("Starting cmd") + 1;
    QStringList ownMessages = messages.mid(afterStart);
    ownMessages.removeAll("Starting next");
    ownMessages.removeAll("next completed sucessfully");
    EXPECT_EQ(ownMessages, c.lastMessages) << messages.join("\n").toStdString();
    EXPECT_EQ(receiver.m_Calls, c.code == 1010 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Contract, PrePostInstallExitTest,
    ::testing::Values(
        ExitCase{"Zero", 0, true, TaskSpecification::FINISHED, {"cmd completed sucessfully"}},
        ExitCase{"OneRequired",
                 1,
                 true,
                 TaskSpecification::FAILED,
                 {"Failed to complete cmd, exit code: 1"}},
        ExitCase{"OneOptional",
                 1,
                 false,
                 TaskSpecification::FINISHED,
                 {"Failed to complete cmd, exit code: 1"}},
        ExitCase{"TwoRequired", 2, true, TaskSpecification::FAILED, {}},
        ExitCase{"TwoOptional", 2, false, TaskSpecification::FINISHED, {}},
        // The shell passes on 1010 modulo 256, as any program's exit status.
        ExitCase{"Reboot",
                 1010,
                 true,
                 TaskSpecification::FINISHED,
                 {"cmd completed sucessfully, reboot required"}}),
    [](const ::testing::TestParamInfo<ExitCase> &info) { return info.param.name; });

TEST_F(PrePostInstallTest, MissingProgram)
{
    for (bool required : {false, true}) {
        QStringList messages;
        const TaskSpecification::TaskState state =
            runList({CommandEntry{"absent", {}, required}}, &messages);
        EXPECT_EQ(state, required ? TaskSpecification::FAILED : TaskSpecification::FINISHED);
        ASSERT_EQ(messages.size(), 3);
        EXPECT_TRUE(messages[2].startsWith("Failed to start absent: "))
            << messages[2].toStdString();
        EXPECT_GT(messages[2].size(), QString("Failed to start absent: ").size());
    }
}

TEST_F(PrePostInstallTest, EmptyListSaysNothing)
{
    QStringList messages;
    EXPECT_EQ(runList({}, &messages), TaskSpecification::FINISHED);
    EXPECT_EQ(messages, QStringList());
}

} // namespace

#include "prepostinstalltaskspecification_test.moc"
