#pragma once

#include <QString>
#include <QStringList>

// Starts the program that takes over when the updater closes. Both start it
// detached and do not report the outcome.
class ProcessTools
{
public:
    // Starts the client's start script in the installation directory dir.
    static void startOv3Client(const QString &dir);
    // Starts the updater executable "update" found in dir, with args.
    static void startClientUpdater(const QString &dir, const QStringList &args);
};
