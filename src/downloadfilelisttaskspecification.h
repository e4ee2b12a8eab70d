#pragma once

#include "composedtaskspecification.h"
#include "downloadreplacelists.h"

class Configuration;
class QNetworkAccessManager;

// Downloads every file of the plan's download list, up to the configured
// number of streams at a time. The first failure stops new downloads and
// aborts the running ones.
class DownloadFileListTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    // list: the main task's download list, read when the task executes.
    DownloadFileListTaskSpecification(QList<DownloadEntry> *list, QNetworkAccessManager *nam,
                                      Configuration *config, QObject *parent, qreal weight);

    void execute() override;
    void reset() override;
    // The received bytes of the subtasks against the sizes the plan announced
    // for all files.
    void getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                             bool &downloading) override;

    QList<DownloadEntry> *m_List;
    QNetworkAccessManager *m_NetworkManager;
    Configuration *m_Config;
    quint64 m_PlannedBytes;

private:
    void makeSubtasksAndStart();
};
