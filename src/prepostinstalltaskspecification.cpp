#include "prepostinstalltaskspecification.h"

#include "prepostinstallfunc.h"

QPointer<QObject> PrePostInstallTaskSpecification::s_RebootReceiver;

PrePostInstallTaskSpecification::PrePostInstallTaskSpecification(const CommandEntry *command,
                                                                 Configuration *config,
                                                                 QObject *parent, qreal weight)
    : ASyncTaskSpecification(parent, weight), m_Command(command), m_Config(config)
{
}

void PrePostInstallTaskSpecification::setRebootReceiver(QObject *receiver)
{
    s_RebootReceiver = receiver;
}

ASyncFunc *PrePostInstallTaskSpecification::createFunc()
{
    PrePostInstallFunc *func = new PrePostInstallFunc(m_Command, m_Config);
    if (s_RebootReceiver)
        connect(func, SIGNAL(reboot_with_confirmation()), s_RebootReceiver.data(),
                SLOT(onRebootWithConfirmation()), Qt::QueuedConnection);
    return func;
}

void PrePostInstallTaskSpecification::runDone(bool ok)
{
    if (ok)
        setFinished();
    else
        setFailed();
}
