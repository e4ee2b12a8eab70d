#include "maintaskspecification.h"

#include "configuration.h"
#include "downloadfilelisttaskspecification.h"
#include "filedeletelisttaskspecification.h"
#include "filereplacelisttaskspecification.h"
#include "inidownloadtaskspecification.h"
#include "makedownloadreplacelisttaskspecification.h"
#include "prepostinstalllisttaskspecification.h"
#include "updateselfunziptaskspecification.h"

MainTaskSpecification::MainTaskSpecification(QNetworkAccessManager *nam, Configuration *config,
                                             QObject *parent, qreal weight)
    : ComposedTaskSpecification(1, parent, weight), m_NetworkManager(nam), m_Config(config)
{
}

void MainTaskSpecification::execute()
{
    const bool clientUpdate = m_Config->m_UpdateStep == 1;
    emit message(tr("Starting update process for ") +
                 (m_Config->m_UpdateStep == 0 ? "updater" : "client"));

    addSubtask(new IniDownloadTaskSpecification(m_NetworkManager, m_Config, this, 0.1));
    addSubtask(new MakeDownloadReplaceListTaskSpecification(m_Config, &m_Lists, this, 0.05));
    addSubtask(new DownloadFileListTaskSpecification(&m_Lists.downloadList, m_NetworkManager,
                                                     m_Config, this, 0.4));
    addSubtask(
        new PrePostInstallListTaskSpecification(&m_Lists.preInstallList, m_Config, this, 0.1));
    if (clientUpdate) {
        addSubtask(new FileReplaceListTaskSpecification(&m_Lists.replaceList, m_Config, this, 0.4));
        addSubtask(new FileDeleteListTaskSpecification(&m_Lists.deleteList, m_Config, this, 0.05));
    } else {
        addSubtask(new UpdateSelfUnzipTaskSpecification(&m_Lists.replaceList, m_Config, this, 0.4));
    }
    addSubtask(
        new PrePostInstallListTaskSpecification(&m_Lists.postInstallList, m_Config, this, 0.1));

    m_TaskState = RUNNING;
    startSubtasks();
}

void MainTaskSpecification::reset()
{
    clearSubtasks();
    m_Lists.clear();
    TaskSpecification::reset();
}
