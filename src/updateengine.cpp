#include "updateengine.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QStringList>

namespace {

const QStringList &oldFiles()
{
    static const QStringList files = {
        "update",           "libQtCore.so.4",       "libQtGui.so.4",
        "libQtNetwork.so.4", "libQtSql.so.4",        "libQt5Core.so.5",
        "libQt5Gui.so.5",   "libQt5Network.so.5",   "libQt5Sql.so.5",
        "libqgif.so",       "libqjpeg.so",          "libqtaccessiblewidgets.so",
        "libsqlite.so"};
    return files;
}

const QStringList &qt4Files()
{
    static const QStringList files = {"libQtCore.so.4", "libQtGui.so.4", "libQtNetwork.so.4",
                                      "libQtSql.so.4"};
    return files;
}

} // namespace

void UpdateEngine::removeOldFiles(const QString &dir)
{
    for (const QString &name : oldFiles()) {
        const QString path = QDir(dir).absoluteFilePath("_old_" + name);
        if (QFile::exists(path))
            qDebug() << "Remove old file:" << path;
        QFile::remove(path);
    }
}

void UpdateEngine::removeQt4Files(const QString &dir)
{
    for (const QString &name : qt4Files()) {
        const QString path = QDir(dir).absoluteFilePath(name);
        if (QFile::exists(path)) {
            qDebug() << "Remove Qt4 file:" << path;
            QFile::remove(path);
        }
    }
}
