#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class TaskSpecification;

// Helpers for the tests of the file operations and the installation: running
// one task to its end, reading and writing scratch files, and snapshots of
// directory trees to compare installations byte for byte.
namespace fileopstest {

// Runs task (already constructed, not started) until it ends or timeoutMs
// passed; the task's progress lines are appended to messages when given.
// True when the task ended.
bool runTask(TaskSpecification *task, QStringList *messages = nullptr, int timeoutMs = 60000);

bool writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);
// Lower-case hexadecimal SHA-512 of bytes.
QString sha512Hex(const QByteArray &bytes);
// gzip stream of bytes, written with zlib.
QByteArray gzipBytes(const QByteArray &bytes);

// One entry of a tree snapshot: a file's content and mode bits, or a
// directory (isDir, no content).
struct Node
{
    bool isDir = false;
    QByteArray content;
    uint mode = 0;
    bool operator==(const Node &o) const
    {
        return isDir == o.isDir && content == o.content && mode == o.mode;
    }
};
typedef QMap<QString, Node> Snapshot;

// Every file and directory below root, keyed by relative path.
Snapshot snapshot(const QString &root);
// The differences between two snapshots as readable lines; empty when equal.
QStringList diffSnapshots(const Snapshot &expected, const Snapshot &actual);

// Runs program with args and waits; the exit code, or -1 when it did not
// start or crashed. Its standard error is appended to errorOutput when given.
int runProgram(const QString &program, const QStringList &args, QString *errorOutput = nullptr);

// The command-line tools of this build.
QString ovpatchTool();
QString publishTool();

// Sets the immutable attribute (chattr +i/-i); false where the file system
// or the container does not allow it.
bool setImmutable(const QString &path, bool on);

} // namespace fileopstest
