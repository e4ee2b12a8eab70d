#pragma once

#include "composedtaskspecification.h"

#include <QString>

class CheckSignatureTaskSpecification;
class Configuration;
class QNetworkAccessManager;

// The first step of a run: fetches the packed product ini and its signature
// into the temporary directory, unpacks the ini and verifies it against the
// compiled-in public key. An ini or signature left by an earlier run of the
// same session is reused, but the pair is verified again every time.
class IniDownloadTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    IniDownloadTaskSpecification(QNetworkAccessManager *nam, Configuration *config, QObject *parent,
                                 qreal weight);

    void execute() override;
    void reset() override;

    QNetworkAccessManager *m_NetworkManager;
    Configuration *m_Config;

public slots:
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification *task);

private:
    void makeSubtasksAndStart();
};
