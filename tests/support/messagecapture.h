#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

// Collects the debug and warning lines written through Qt's message functions
// while it exists, from any thread, instead of printing them.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;

    QStringList messages() const;
    // True when some line contains every one of the parts.
    bool contains(const QStringList &parts) const;

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);

    QtMessageHandler m_Previous = nullptr;
    mutable QMutex m_Mutex;
    QStringList m_Messages;
};
