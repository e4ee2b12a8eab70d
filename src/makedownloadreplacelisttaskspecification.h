#pragma once

#include "asynctaskspecification.h"
#include "downloadreplacelists.h"

class Configuration;

// Compiles the plan of the run from the verified product ini on the thread
// pool. The body fills m_Local; only a successful compilation is copied into
// the main task's lists, so a failure leaves the plan empty.
class MakeDownloadReplaceListTaskSpecification : public ASyncTaskSpecification
{
    Q_OBJECT
public:
    MakeDownloadReplaceListTaskSpecification(Configuration *config, DownloadReplaceLists *out,
                                             QObject *parent, qreal weight);

    ASyncFunc *createFunc() override;
    void runDone(bool ok) override;

    Configuration *m_Config;
    DownloadReplaceLists *m_Out;
    // Written only by the body while it runs, read here after its result.
    DownloadReplaceLists m_Local;
};
