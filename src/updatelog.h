#pragma once

#include <QMutex>
#include <QString>
#include <QTextStream>
#include <QtGlobal>

class QFile;

// The diagnostic log of one run. It writes only when the marker file
// "ov3_update_log" exists in the temporary directory; otherwise every message
// is dropped, including on the terminal.
class UpdateLog
{
public:
    // The process-wide log, created and opened on first use, never destroyed.
    static UpdateLog *instance();
    static bool exists();
    static bool isEnabled() { return s_Enabled; }

    // Builds the file name from the current time and opens the file; does
    // nothing when logging is off.
    void open();
    // Flushes and closes the file if one is open.
    void close();
    void write(QtMsgType type, const QString &message);

    QString fileName() const;

private:
    UpdateLog();
    Q_DISABLE_COPY(UpdateLog)

    static bool s_Enabled;
    static UpdateLog *s_Instance;

    QFile *m_File = nullptr;
    QTextStream m_Stream;
    QMutex m_Mutex;
};

// Installed with qInstallMessageHandler at start-up.
void updateLogMessageHandler(QtMsgType type, const QMessageLogContext &context,
                             const QString &message);
