#include "qobjecttracker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QThread>

// Qt's hook table (qhooks_p.h). Index 3 holds the callback run by every
// QObject constructor, index 4 the one run by every destructor.
extern Q_CORE_EXPORT quintptr qtHookData[];

namespace {

enum
{
    HookAddQObject = 3,
    HookRemoveQObject = 4
};
typedef void (*ObjectHook)(QObject *);

QMutex trackerMutex;
QObjectTracker *activeTracker = nullptr;

} // namespace

QObjectTracker::QObjectTracker()
{
    QMutexLocker locker(&trackerMutex);
    Q_ASSERT(!activeTracker);
    activeTracker = this;
    m_PreviousAdd = qtHookData[HookAddQObject];
    m_PreviousRemove = qtHookData[HookRemoveQObject];
    qtHookData[HookAddQObject] = reinterpret_cast<quintptr>(&QObjectTracker::onAdd);
    qtHookData[HookRemoveQObject] = reinterpret_cast<quintptr>(&QObjectTracker::onRemove);
}

QObjectTracker::~QObjectTracker()
{
    QMutexLocker locker(&trackerMutex);
    qtHookData[HookAddQObject] = m_PreviousAdd;
    qtHookData[HookRemoveQObject] = m_PreviousRemove;
    activeTracker = nullptr;
}

void QObjectTracker::onAdd(QObject *object)
{
    QMutexLocker locker(&trackerMutex);
    if (!activeTracker)
        return;
    activeTracker->m_Alive.insert(object);
    if (activeTracker->m_PreviousAdd)
        reinterpret_cast<ObjectHook>(activeTracker->m_PreviousAdd)(object);
}

void QObjectTracker::onRemove(QObject *object)
{
    QMutexLocker locker(&trackerMutex);
    if (!activeTracker)
        return;
    activeTracker->m_Alive.remove(object);
    if (activeTracker->m_PreviousRemove)
        reinterpret_cast<ObjectHook>(activeTracker->m_PreviousRemove)(object);
}

int QObjectTracker::aliveCount(const char *className) const
{
    QMutexLocker locker(&trackerMutex);
    int count = 0;
    for (QObject *object : m_Alive)
        count += object->inherits(className) ? 1 : 0;
    return count;
}

bool QObjectTracker::waitUntilNoneAlive(const QStringList &classNames, int timeoutMs) const
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        int alive = 0;
        for (const QString &name : classNames)
            alive += aliveCount(name.toLatin1().constData());
        if (alive == 0)
            return true;
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(5);
    }
}
