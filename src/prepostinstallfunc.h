#pragma once

#include "asyncfunc.h"
#include "downloadreplacelists.h"

class Configuration;

// Starts one install command from the temporary directory, waits for it and
// judges its exit code: 0 success, 1 failure, 1010 success that needs a
// restart of the computer; anything else (or a crash) is a silent failure. A
// failure of a command that is not required still counts as success.
class PrePostInstallFunc : public ASyncFunc
{
    Q_OBJECT
public:
    PrePostInstallFunc(const CommandEntry *command, Configuration *config);

    bool run() override;

    const CommandEntry *m_Command;
    Configuration *m_Config;

signals:
    void reboot_with_confirmation();
};
