#include "prepostinstallfunc.h"

#include "configuration.h"

#include <QDebug>
#include <QDir>
#include <QProcess>

namespace {
const int RebootExitCode = 1010;
}

PrePostInstallFunc::PrePostInstallFunc(const CommandEntry *command, Configuration *config)
    : m_Command(command), m_Config(config)
{
}

bool PrePostInstallFunc::run()
{
    const QString &command = m_Command->command;
    const bool required = m_Command->required;
    QStringList args;
    for (const QString &arg : m_Command->args)
        args.append("--" + arg);
    qDebug() << "Starting" << command << "args" << args;
    qDebug() << "temp dir:" << m_Config->m_TempDir;
    emit message(tr("Starting %1").arg(command));

    QProcess process;
    process.start(m_Config->m_TempDir + QDir::separator() + command, args, QIODevice::ReadOnly);
    qDebug() << "Starting" << command << "state" << process.state();
    if (!process.waitForStarted(30000)) {
        qDebug() << "Failed to start process, state =" << process.state()
                 << ", error =" << process.errorString();
        emit message(tr("Failed to start %1: %2").arg(command, process.errorString()));
        return !required;
    }
    qDebug() << "Wait for started completed";
    if (!process.waitForFinished(-1)) {
        qDebug() << "Failed to run process, state =" << process.state()
                 << ", error =" << process.errorString();
        emit message(tr("Failed to run %1: %2").arg(command, process.errorString()));
        return !required;
    }
    qDebug() << "Wait for finished completed";
    int code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    qDebug() << "Process exit code:" << code;
    // An exit status has eight bits here, so a command that exits with 1010
    // to ask for a restart arrives as 1010 modulo 256.
    if (code == RebootExitCode % 256)
        code = RebootExitCode;

    switch (code) {
    case 0:
        emit message(tr("%1 completed sucessfully").arg(command));
        return true;
    case 1:
        emit message(tr("Failed to complete %1, exit code: %2").arg(command).arg(code));
        return !required;
    case RebootExitCode:
        emit message(tr("%1 completed sucessfully, reboot required").arg(command));
        emit reboot_with_confirmation();
        return true;
    default:
        return !required;
    }
}
