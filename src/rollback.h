#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QtGlobal>

// The kinds of change the file tasks record while they alter the disk.
enum RollbackOperation : qint32
{
    // A file was renamed from m_RestorePath to m_Path; undone by renaming it back.
    FILE_RENAME = 0,
    // The file m_Path was written; undone by deleting it.
    FILE_CREATE = 1,
    // The directory m_Path was created (one level); undone by removing it if
    // it is empty.
    DIR_CREATE = 2
};

// One journalled change. The journal never overwrites anything itself: a file
// that existed before a replacement is first renamed aside (a FILE_RENAME
// record), so undoing the records newest first brings its content back.
class RollbackData
{
public:
    // A rename of renamedFrom to renamedTo; op must be FILE_RENAME.
    RollbackData(RollbackOperation op, const QString &renamedFrom, const QString &renamedTo);
    // A created file or directory; op must not be FILE_RENAME.
    RollbackData(RollbackOperation op, const QString &path);

    // Undoes this change. On failure the warning goes to target's message
    // signal and false is returned.
    bool rollback(QObject *target) const;

    // Emits target's message(QString) signal with text; a null target drops
    // the text.
    static void message(QObject *target, const QString &text);

    // The path after the change: rename destination, written file, created
    // directory.
    QString m_Path;
    // For FILE_RENAME the rename source; empty otherwise.
    QString m_RestorePath;
    RollbackOperation m_Op;
};

// The journal, in the order the changes were made.
typedef QList<RollbackData> RollbackDataList;

// Undoes every record of list, newest first, and empties the list whatever
// happens. A record that cannot be undone is reported to target and skipped.
// True when every record was undone.
bool rollbackAll(RollbackDataList &list, QObject *target);
