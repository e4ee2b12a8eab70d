#include "updaterprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

UpdaterProcess::UpdaterProcess()
{
    QFile::copy(QStringLiteral(OV3_BIN_DIR "/update"), m_AppDir.filePath("update"));
    QFile::setPermissions(m_AppDir.filePath("update"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

bool UpdaterProcess::isValid() const
{
    return m_AppDir.isValid() && m_TempDir.isValid() && m_HomeDir.isValid() &&
           m_RuntimeDir.isValid() && QFileInfo(m_AppDir.filePath("update")).isExecutable();
}

QString UpdaterProcess::executable() const
{
    return QFileInfo(m_AppDir.filePath("update")).canonicalFilePath();
}

void UpdaterProcess::enableLog()
{
    QFile marker(m_TempDir.filePath("ov3_update_log"));
    marker.open(QIODevice::WriteOnly);
}

QStringList UpdaterProcess::logLines() const
{
    const QDir logDir(m_TempDir.filePath("orvane_update_log"));
    const QStringList files = logDir.entryList({"update__*.log"}, QDir::Files, QDir::Time);
    if (files.isEmpty())
        return {};
    QFile file(logDir.filePath(files.first()));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

QProcessEnvironment UpdaterProcess::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", m_TempDir.path());
    env.insert("HOME", m_HomeDir.path());
    env.insert("XDG_RUNTIME_DIR", m_RuntimeDir.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert(m_Extra);
    return env;
}

void UpdaterProcess::start(QProcess &process, const QStringList &args) const
{
    process.setProcessEnvironment(environment());
    process.setWorkingDirectory(m_AppDir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(m_AppDir.filePath("update"), args);
}

bool UpdaterProcess::run(const QStringList &args, int timeoutMs)
{
    QProcess process;
    start(process, args);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    m_ExitCode = process.exitCode();
    m_ExitStatus = process.exitStatus();
    m_Output = process.readAll();
    return true;
}

bool UpdaterProcess::waitForEnd(QProcess &process, int timeoutMs)
{
    return process.state() == QProcess::NotRunning || process.waitForFinished(timeoutMs);
}
