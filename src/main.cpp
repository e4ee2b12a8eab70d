#include "configuration.h"
#include "mainwindow.h"
#include "protobufhelper.h"
#include "singleinstancechecker.h"
#include "updateengine.h"
#include "updatelog.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <google/protobuf/stubs/common.h>

namespace {

void removeStaleFiles(const QString &appDir)
{
    UpdateEngine::removeQt4Files(appDir);
    UpdateEngine::removeOldFiles(appDir);
    UpdateEngine::removeOldFiles(appDir + "/old");
    UpdateEngine::removeOldFiles(appDir + "/imageformats");
    UpdateEngine::removeOldFiles(appDir + "/accessible");
    UpdateEngine::removeOldFiles(appDir + "/sqldrivers");
    QDir().rmdir(appDir + "/old");
    qDebug() << "Removing old files done";
}

void shutdownAfterEventLoop()
{
    if (UpdateLog::exists())
        UpdateLog::instance()->close();
    google::protobuf::ShutdownProtobufLibrary();
}

} // namespace

int main(int argc, char **argv)
{
    // The generated message code needs runtime 3.0.0 or newer; the header
    // version handed over is the one this build was compiled against.
    google::protobuf::internal::VerifyVersion(GOOGLE_PROTOBUF_VERSION, 3000000, __FILE__);
    registerUpdateVersionsMetaType();

    if (!UpdateLog::exists())
        UpdateLog::instance();
    qInstallMessageHandler(updateLogMessageHandler);

    QApplication app(argc, argv);
    const QString appDir = QCoreApplication::applicationDirPath();
    qDebug() << "Orvane updater started";

    removeStaleFiles(appDir);

    if (SingleInstanceChecker::notifyRunningInstance("#")) {
        qDebug() << "Detected other instance running, aborting";
        return 0;
    }

    const QString locale = QLocale::system().name();
    QTranslator updaterTranslator;
    QTranslator qtTranslator;
    updaterTranslator.load(appDir + "/translations/update_" + locale, QString(), QString(),
                           QString());
    qtTranslator.load(appDir + "/translations/qt_" + locale, QString(), QString(), QString());
    QCoreApplication::installTranslator(&updaterTranslator);
    QCoreApplication::installTranslator(&qtTranslator);

    Configuration configuration;
    MainWindow window(&configuration);
    if (!configuration.parseCommandLineOptions()) {
        qWarning() << "Failed to parse command line options, aborting";
        return 1;
    }
    // The version query's ready() usually starts the update first; the timer
    // covers a command line that named the version.
    QTimer::singleShot(2000, &window, SLOT(onStartUpdate()));
    window.updateHeader();
    window.show();
    window.delete_force_update_files();
    const int exitCode = app.exec();
    shutdownAfterEventLoop();
    return exitCode;
}
