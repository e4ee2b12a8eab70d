#pragma once

#include <QString>

// The updater keeps update.ini beside its executable, and every test program
// shares the directory of the test executables; CTest runs them in parallel.
// A test that reads or writes that update.ini holds this lock (an exclusive
// flock, so across processes); the file is removed when the lock is taken and
// again when it is released.
class ApplicationDirLock
{
public:
    ApplicationDirLock();
    ~ApplicationDirLock();
    ApplicationDirLock(const ApplicationDirLock &) = delete;
    ApplicationDirLock &operator=(const ApplicationDirLock &) = delete;

    // The update.ini beside the executable.
    static QString updateIniPath();
    // Removes it, whether it is a file or a directory.
    static void removeUpdateIni();

private:
    int m_Fd = -1;
};
