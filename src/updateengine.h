#pragma once

#include <QString>

// Runs one update session. For now it hosts the removal of files that
// earlier updater versions left beside the executable.
class UpdateEngine
{
public:
    // Removes the "_old_"-prefixed leftovers of earlier updaters in dir.
    static void removeOldFiles(const QString &dir);
    // Removes the Qt 4 libraries that old updaters shipped in dir.
    static void removeQt4Files(const QString &dir);
};
