#include "makedownloadreplacelisttaskspecification.h"

#include "makedownloadreplacelistfunc.h"

MakeDownloadReplaceListTaskSpecification::MakeDownloadReplaceListTaskSpecification(
    Configuration *config, DownloadReplaceLists *out, QObject *parent, qreal weight)
    : ASyncTaskSpecification(parent, weight), m_Config(config), m_Out(out)
{
}

ASyncFunc *MakeDownloadReplaceListTaskSpecification::createFunc()
{
    return new MakeDownloadReplaceListFunc(m_Config, &m_Local);
}

void MakeDownloadReplaceListTaskSpecification::runDone(bool ok)
{
    if (ok) {
        m_Out->downloadList = m_Local.downloadList;
        m_Out->replaceList = m_Local.replaceList;
        m_Out->deleteList = m_Local.deleteList;
        m_Out->preInstallList = m_Local.preInstallList;
        m_Out->postInstallList = m_Local.postInstallList;
    }
    ASyncTaskSpecification::runDone(ok);
}
