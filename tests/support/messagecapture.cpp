#include "messagecapture.h"

#include <QMutexLocker>

namespace {

MessageCapture *activeCapture = nullptr;

} // namespace

MessageCapture::MessageCapture()
{
    Q_ASSERT(!activeCapture);
    activeCapture = this;
    m_Previous = qInstallMessageHandler(&MessageCapture::handler);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(m_Previous);
    activeCapture = nullptr;
}

void MessageCapture::handler(QtMsgType, const QMessageLogContext &, const QString &message)
{
    MessageCapture *capture = activeCapture;
    if (!capture)
        return;
    QMutexLocker locker(&capture->m_Mutex);
    capture->m_Messages.append(message);
}

QStringList MessageCapture::messages() const
{
    QMutexLocker locker(&m_Mutex);
    return m_Messages;
}

bool MessageCapture::contains(const QStringList &parts) const
{
    for (const QString &line : messages()) {
        bool all = true;
        for (const QString &part : parts)
            all = all && line.contains(part);
        if (all)
            return true;
    }
    return false;
}
