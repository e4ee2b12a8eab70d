#pragma once

#include "composedtaskspecification.h"
#include "downloadreplacelists.h"

class Configuration;
class QNetworkAccessManager;

// The root of one update run. Its subtasks run one after the other: fetch and
// verify the product ini, compile the plan, download, pre-install commands,
// then the client's files (step two) or the new updater (step one), then the
// post-install commands.
class MainTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    MainTaskSpecification(QNetworkAccessManager *nam, Configuration *config, QObject *parent,
                          qreal weight);

    void execute() override;
    void reset() override;

    QNetworkAccessManager *m_NetworkManager;
    Configuration *m_Config;
    // Filled by the list compiler; the later steps read it when they run.
    DownloadReplaceLists m_Lists;
};
