#include "processtools.h"

#include <QDebug>
#include <QFile>
#include <QProcess>

namespace {

void startOv3Client_linux(const QString &dir)
{
    const QString program = dir + "/" + "ov3client_runscript.sh";
    qDebug() << "starting " << program;
    QProcess::startDetached(program, QStringList(), dir);
}

void startNewUpdater_linux(const QString &dir, const QStringList &args)
{
    const QString program = dir + "/update";
    qDebug() << "startNewUpdater_linux" << program;
    if (!QFile::exists(program)) {
        qDebug() << "Failed to find" << program;
        return;
    }
    qDebug() << "starting" << program;
    QProcess::startDetached(program, args, dir);
}

} // namespace

void ProcessTools::startOv3Client(const QString &dir)
{
    qDebug() << "startOv3Client";
    startOv3Client_linux(dir);
}

void ProcessTools::startClientUpdater(const QString &dir, const QStringList &args)
{
    qDebug() << "startClientUpdater" << dir << args;
    startNewUpdater_linux(dir, args);
}
