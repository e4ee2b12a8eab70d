#pragma once

#include "asynctaskspecification.h"
#include "downloadreplacelists.h"

#include <QPointer>

class Configuration;

// Runs one install command on the thread pool and judges its exit code.
class PrePostInstallTaskSpecification : public ASyncTaskSpecification
{
    Q_OBJECT
public:
    PrePostInstallTaskSpecification(const CommandEntry *command, Configuration *config,
                                    QObject *parent, qreal weight);

    ASyncFunc *createFunc() override;
    // Ends the task with the command's verdict.
    void runDone(bool ok) override;

    // The object that asks the user to restart the computer when a command
    // says so: its slot onRebootWithConfirmation() is connected (queued) to
    // every command body created afterwards. The window registers itself.
    static void setRebootReceiver(QObject *receiver);

    const CommandEntry *m_Command;
    Configuration *m_Config;

private:
    static QPointer<QObject> s_RebootReceiver;
};
