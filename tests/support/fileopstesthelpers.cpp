#include "fileopstesthelpers.h"

#include "taskspecification.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>
#include <QTimer>

#include <sys/stat.h>
#include <zlib.h>

namespace fileopstest {

bool runTask(TaskSpecification *task, QStringList *messages, int timeoutMs)
{
    QEventLoop loop;
    bool ended = false;
    QObject::connect(task, &TaskSpecification::finished, &loop, [&] {
        ended = true;
        loop.quit();
    });
    QObject::connect(task, &TaskSpecification::canceled, &loop, [&] {
        ended = true;
        loop.quit();
    });
    if (messages)
        QObject::connect(task, &TaskSpecification::message, &loop,
                         [messages](const QString &m) { messages->append(m); });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    task->execute();
    if (!ended)
        loop.exec();
    // Messages queued by pool-thread bodies before their result are already
    // delivered; give late queued signals of this round a chance as well.
    QCoreApplication::processEvents();
    return ended;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QString sha512Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha512).toHex());
}

QByteArray gzipBytes(const QByteArray &bytes)
{
    QTemporaryFile tmp;
    tmp.open();
    const QString path = tmp.fileName();
    tmp.close();
    gzFile g = gzopen(path.toUtf8().constData(), "wb9");
    if (!g)
        return QByteArray();
    if (!bytes.isEmpty())
        gzwrite(g, bytes.constData(), unsigned(bytes.size()));
    gzclose(g);
    return readFile(path);
}

Snapshot snapshot(const QString &root)
{
    Snapshot result;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st;
        if (lstat(QFile::encodeName(path).constData(), &st) != 0)
            continue;
        Node node;
        node.isDir = S_ISDIR(st.st_mode);
        node.mode = st.st_mode & 07777;
        if (!node.isDir)
            node.content = readFile(path);
        result.insert(base.relativeFilePath(path), node);
    }
    return result;
}

QStringList diffSnapshots(const Snapshot &expected, const Snapshot &actual)
{
    QStringList lines;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (!actual.contains(it.key())) {
            lines << "missing: " + it.key();
            continue;
        }
        const Node &a = actual.value(it.key());
        if (a.isDir != it->isDir)
            lines << "kind differs: " + it.key();
        else if (a.content != it->content)
            lines << "content differs: " + it.key();
        else if (a.mode != it->mode)
            lines << QString("mode differs: %1 %2 instead of %3")
                         .arg(it.key())
                         .arg(a.mode, 0, 8)
                         .arg(it->mode, 0, 8);
    }
    for (auto it = actual.cbegin(); it != actual.cend(); ++it)
        if (!expected.contains(it.key()))
            lines << "unexpected: " + it.key();
    return lines;
}

int runProgram(const QString &program, const QStringList &args, QString *errorOutput)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted(30000))
        return -1;
    process.waitForFinished(-1);
    if (errorOutput)
        *errorOutput += QString::fromLocal8Bit(process.readAllStandardError());
    if (process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

QString ovpatchTool()
{
    return QStringLiteral(OV3_BIN_DIR) + "/ovpatch";
}

QString publishTool()
{
    return QStringLiteral(OV3_BIN_DIR) + "/ov3-publish";
}

bool setImmutable(const QString &path, bool on)
{
    return runProgram("chattr", {on ? "+i" : "-i", path}) == 0;
}

} // namespace fileopstest
