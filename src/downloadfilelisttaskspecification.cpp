#include "downloadfilelisttaskspecification.h"

#include "configuration.h"
#include "downloadfiletaskspecification.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

DownloadFileListTaskSpecification::DownloadFileListTaskSpecification(QList<DownloadEntry> *list,
                                                                     QNetworkAccessManager *nam,
                                                                     Configuration *config,
                                                                     QObject *parent, qreal weight)
    : ComposedTaskSpecification(config->m_Streams, parent, weight), m_List(list),
      m_NetworkManager(nam), m_Config(config), m_PlannedBytes(0)
{
}

void DownloadFileListTaskSpecification::execute()
{
    makeSubtasksAndStart();
}

void DownloadFileListTaskSpecification::makeSubtasksAndStart()
{
    if (m_List->isEmpty()) {
        emit message(tr("No downloads needed"));
        setFinished();
        return;
    }

    // Every folder the downloads land in exists before the first one starts.
    const QDir tempDir(m_Config->m_TempDir);
    QSet<QString> folders;
    folders.insert(QStringLiteral("."));
    for (const DownloadEntry &entry : qAsConst(*m_List)) {
        const QString folder = QFileInfo(entry.name).path();
        if (folders.contains(folder))
            continue;
        if (!tempDir.mkpath(folder)) {
            emit message(tr("Could not create dir %1")
                             .arg(tempDir.canonicalPath() + QLatin1Char('/') + folder));
            setFailed();
            return;
        }
        folders.insert(folder);
    }

    emit message(tr("Downloading files"));
    const qreal weight = 1.0 / m_List->size();
    for (const DownloadEntry &entry : qAsConst(*m_List)) {
        addSubtask(
            new DownloadFileTaskSpecification(entry, m_NetworkManager, m_Config, this, weight));
        m_PlannedBytes += entry.size;
    }

    m_TaskState = RUNNING;
    startSubtasks();
}

void DownloadFileListTaskSpecification::getDownloadProgress(quint64 &done, quint64 &total,
                                                            quint64 &speed, bool &downloading)
{
    ComposedTaskSpecification::getDownloadProgress(done, total, speed, downloading);
    total = m_PlannedBytes;
}

void DownloadFileListTaskSpecification::reset()
{
    clearSubtasks();
    m_PlannedBytes = 0;
    TaskSpecification::reset();
}
