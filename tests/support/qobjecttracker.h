#pragma once

#include <QSet>
#include <QStringList>
#include <QtGlobal>

class QObject;

// Watches every QObject created, on any thread, while it exists (through Qt's
// object hooks), so a test can tell which of them are still alive: the
// deleteLater() and thread clean-up that a test cannot reach otherwise.
// Only one tracker may exist at a time.
class QObjectTracker
{
public:
    QObjectTracker();
    ~QObjectTracker();
    QObjectTracker(const QObjectTracker &) = delete;
    QObjectTracker &operator=(const QObjectTracker &) = delete;

    // How many objects created since construction are alive and inherit
    // className (QObject::inherits).
    int aliveCount(const char *className) const;
    // Processes events until no such object is alive or timeoutMs passed;
    // true when none is left.
    bool waitUntilNoneAlive(const QStringList &classNames, int timeoutMs = 5000) const;

private:
    static void onAdd(QObject *object);
    static void onRemove(QObject *object);

    quintptr m_PreviousAdd = 0;
    quintptr m_PreviousRemove = 0;
    QSet<QObject *> m_Alive;
};
