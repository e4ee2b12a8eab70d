#pragma once

#include "composedtaskspecification.h"
#include "downloadreplacelists.h"

#include <QList>

class Configuration;

// Deletes the installed paths the update plan lists for deletion, one after
// the other. A deletion that fails never fails the list.
class FileDeleteListTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    // deleteList is read when the task executes.
    FileDeleteListTaskSpecification(const QList<DeleteEntry> *deleteList, Configuration *config,
                                    QObject *parent, qreal weight);

    void execute() override;
    void reset() override;

    const QList<DeleteEntry> *m_DeleteList;
    Configuration *m_Config;

private:
    void makeSubtasksAndStart();
};
