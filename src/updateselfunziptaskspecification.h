#pragma once

#include "composedtaskspecification.h"
#include "downloadreplacelists.h"

#include <QList>

class Configuration;

// Step one of an update: the running updater cannot replace itself, so the
// new updater is assembled in the session's temporary directory. Packed and
// patched files are unpacked or patched there (plain files were placed there
// by the list compiler), "update" is made executable, the session record for
// step two is written beside it and the translations are copied. Nothing in
// the installation is changed and nothing is journalled.
class UpdateSelfUnzipTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    // replaceList is read when the task executes.
    UpdateSelfUnzipTaskSpecification(const QList<ReplaceEntry> *replaceList, Configuration *config,
                                     QObject *parent, qreal weight);

    void execute() override;
    void subtasksDone() override;
    void reset() override;

    const QList<ReplaceEntry> *m_ReplaceList;
    Configuration *m_Config;

private:
    void makeSubtasksAndStart();
    void copyTranslations();
};
