#include "downloadfiletaskspecification.h"

#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "downloadtaskspecification.h"

DownloadFileTaskSpecification::DownloadFileTaskSpecification(const DownloadEntry &entry,
                                                             QNetworkAccessManager *nam,
                                                             Configuration *config, QObject *parent,
                                                             qreal weight)
    : ComposedTaskSpecification(1, parent, weight), m_Entry(entry), m_NetworkManager(nam),
      m_Config(config), m_Download(nullptr)
{
}

void DownloadFileTaskSpecification::execute()
{
    makeSubtasksAndStart();
}

void DownloadFileTaskSpecification::makeSubtasksAndStart()
{
    const QString localPath = m_Config->m_TempDir + QLatin1Char('/') + m_Entry.name;
    m_Download = new DownloadTaskSpecification(
        m_NetworkManager, m_Entry.section + QLatin1Char('/') + m_Entry.name, m_Config->m_Version,
        localPath, qint64(m_Entry.size), this, 0.8);
    addSubtask(m_Download);

    auto *check = new CheckSignatureTaskSpecification(localPath, m_Entry.sha512, false, this, 0.2);
    connect(check, &CheckSignatureTaskSpecification::checkDone, this,
            &DownloadFileTaskSpecification::onSigCheckDone);
    addSubtask(check);

    m_TaskState = RUNNING;
    startSubtasks();
}

void DownloadFileTaskSpecification::onSigCheckDone(bool pass, CheckSignatureTaskSpecification *task)
{
    // The check task has already reported a mismatch; whether the file can be
    // used is decided when it is put in place.
    Q_UNUSED(pass)
    Q_UNUSED(task)
}

void DownloadFileTaskSpecification::reset()
{
    clearSubtasks();
    m_Download = nullptr;
    TaskSpecification::reset();
}
