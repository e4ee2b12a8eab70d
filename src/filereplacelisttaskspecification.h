#pragma once

#include "composedtaskspecification.h"
#include "downloadreplacelists.h"
#include "rollback.h"

#include <QList>

class Configuration;

// Replaces the installed files of a client update: creates the missing
// directories, then runs one FileReplaceTaskSpecification per entry, two at a
// time. When anything fails, every change of every finished file task and the
// directory creations are undone, so the installation is as it was before.
class FileReplaceListTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    // replaceList is read when the task executes.
    FileReplaceListTaskSpecification(const QList<ReplaceEntry> *replaceList, Configuration *config,
                                     QObject *parent, qreal weight);

    void execute() override;
    void subtasksDone() override;
    void reset() override;

    const QList<ReplaceEntry> *m_ReplaceList;
    RollbackDataList m_Rollback;
    Configuration *m_Config;

private:
    void makeSubtasks();
    void removeBackups();
};
