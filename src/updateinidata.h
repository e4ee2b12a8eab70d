#pragma once

#include <QString>

// Reads and writes the session record (group "current") of update.ini, the
// file beside the running updater.
class UpdateIniData
{
public:
    // Reads the record. It is valid when the version is a number, the type is
    // not empty and the directory in "dir" exists; only then are the non-null
    // outputs written and true returned.
    static bool get(int *version, QString *type, QString *tempDir, QString *installDir);
    // Writes the record and keeps the file's other groups; false when the
    // file could not be written.
    static bool modify(int version, const QString &tempDir, const QString &installDir,
                       const QString &type);
    // Writes a copy of this run's record, typed for step two, into tempDir.
    static bool modifyTempIni(const QString &tempDir);
    static QString path();
};
