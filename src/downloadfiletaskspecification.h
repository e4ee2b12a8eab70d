#pragma once

#include "composedtaskspecification.h"
#include "downloadreplacelists.h"

class CheckSignatureTaskSpecification;
class Configuration;
class DownloadTaskSpecification;
class QNetworkAccessManager;

// One file of the plan: its download, then its SHA-512 check. A file that
// fails the check is only reported; the replacement step checks every result
// again and decides.
class DownloadFileTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    DownloadFileTaskSpecification(const DownloadEntry &entry, QNetworkAccessManager *nam,
                                  Configuration *config, QObject *parent, qreal weight);

    void execute() override;
    void reset() override;

    DownloadEntry m_Entry;
    QNetworkAccessManager *m_NetworkManager;
    Configuration *m_Config;
    DownloadTaskSpecification *m_Download;

public slots:
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification *task);

private:
    void makeSubtasksAndStart();
};
