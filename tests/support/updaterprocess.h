#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Runs a copy of the real `update` binary in a scratch application directory
// with a private temporary directory and home, so that its log, its stale-file
// removal and its single-instance socket touch nothing outside the test.
class UpdaterProcess
{
public:
    UpdaterProcess();

    bool isValid() const;
    QString appDir() const { return m_AppDir.path(); }
    // The executable's canonical path: what the updater sees as its own path.
    QString executable() const;
    QString tempDir() const { return m_TempDir.path(); }
    QString homeDir() const { return m_HomeDir.path(); }

    // Creates the marker that switches the update log on.
    void enableLog();
    // The lines of the newest log file, or nothing when there is none.
    QStringList logLines() const;

    QProcessEnvironment environment() const;
    // Adds a variable to the environment of the started updater.
    void setEnvironmentValue(const QString &name, const QString &value)
    {
        m_Extra.insert(name, value);
    }
    // Starts the updater without waiting for it.
    void start(QProcess &process, const QStringList &args = {}) const;
    // Runs the updater to its end; returns false on a time-out.
    bool run(const QStringList &args = {}, int timeoutMs = 30000);
    // Waits for a started updater to end. Unlike QProcess::waitForFinished it
    // also succeeds when the end was already seen while the event loop ran.
    static bool waitForEnd(QProcess &process, int timeoutMs);

    int exitCode() const { return m_ExitCode; }
    QProcess::ExitStatus exitStatus() const { return m_ExitStatus; }
    QByteArray output() const { return m_Output; }

private:
    QTemporaryDir m_AppDir;
    QTemporaryDir m_TempDir;
    QTemporaryDir m_HomeDir;
    QTemporaryDir m_RuntimeDir;
    QProcessEnvironment m_Extra;
    int m_ExitCode = -1;
    QProcess::ExitStatus m_ExitStatus = QProcess::NormalExit;
    QByteArray m_Output;
};
