#pragma once

#include "composedtaskspecification.h"
#include "downloadreplacelists.h"

#include <QList>

class Configuration;

// Runs the pre- or post-install commands of the product ini strictly one
// after the other; a required command that fails stops the list.
class PrePostInstallListTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    // commandList is read when the task executes.
    PrePostInstallListTaskSpecification(const QList<CommandEntry> *commandList,
                                        Configuration *config, QObject *parent, qreal weight);

    void execute() override;
    void reset() override;

    const QList<CommandEntry> *m_CommandList;
    Configuration *m_Config;
};
