#include "prepostinstalllisttaskspecification.h"

#include "prepostinstalltaskspecification.h"

PrePostInstallListTaskSpecification::PrePostInstallListTaskSpecification(
    const QList<CommandEntry> *commandList, Configuration *config, QObject *parent, qreal weight)
    : ComposedTaskSpecification(1, parent, weight), m_CommandList(commandList), m_Config(config)
{
}

void PrePostInstallListTaskSpecification::execute()
{
    if (!m_CommandList->isEmpty())
        emit message(tr("Starting install condition"));
    for (const CommandEntry &entry : *m_CommandList)
        addSubtask(new PrePostInstallTaskSpecification(&entry, m_Config, this, 0.1));
    m_TaskState = RUNNING;
    startSubtasks();
}

void PrePostInstallListTaskSpecification::reset()
{
    clearSubtasks();
    TaskSpecification::reset();
}
