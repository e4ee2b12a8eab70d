#include "downloadtaskspecification.h"

#include "configuration.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <algorithm>

DownloadTaskSpecification::DownloadTaskSpecification(QNetworkAccessManager *nam,
                                                     const QString &name, int version,
                                                     const QString &filePath, qint64 expectedSize,
                                                     QObject *parent, qreal weight)
    : TaskSpecification(parent, weight), m_NetworkManager(nam), m_Reply(nullptr), m_IdleTicks(0),
      m_Name(name), m_Version(version), m_File(filePath), m_Retries(0), m_LastReported(0),
      m_Total(expectedSize), m_ExpectedSize(expectedSize), m_Received(0)
{
}

QString DownloadTaskSpecification::downloadUrl(int version, const QString &name)
{
    return Configuration::fileServerBaseUrl + QString::number(version) + QLatin1Char('/') + name;
}

void DownloadTaskSpecification::execute()
{
    qDebug() << "Downloading" << m_Name;
    emit message(tr("Downloading %1").arg(m_Name));
    m_TaskState = RUNNING;
    startDownload();
}

void DownloadTaskSpecification::reset()
{
    resetDownload();
    m_Retries = 0;
    TaskSpecification::reset();
}

void DownloadTaskSpecification::startDownload()
{
    // Unbuffered: each piece goes to the file as it arrives.
    if (!m_File.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        emit error(tr("Unable to create file %1 for saving").arg(m_File.fileName()));
        setFailed();
        return;
    }

    const QUrl url = QUrl(downloadUrl(m_Version, m_Name), QUrl::TolerantMode);
    qDebug() << "Requesting download of" << url;
    // No redirect policy is set: a redirect is an answer other than 200 and
    // counts as a failed attempt.
    m_Reply = m_NetworkManager->get(QNetworkRequest(url));
    if (!m_Reply) {
        m_File.close();
        m_File.remove();
        emit error(tr("Download failed to initialize"));
        setFailed();
        return;
    }

    if (m_Reply->isRunning()) {
        connect(m_Reply, &QNetworkReply::downloadProgress, this,
                &DownloadTaskSpecification::onDownloadProgress);
        connect(m_Reply, &QNetworkReply::readyRead, this, &DownloadTaskSpecification::onReadyRead);
        connect(m_Reply, &QNetworkReply::finished, this,
                &DownloadTaskSpecification::onDownloadFinished);
        connect(m_Reply, &QNetworkReply::metaDataChanged, this,
                &DownloadTaskSpecification::onMetaDataChanged);
    } else {
        retryOrFail(m_Reply->errorString());
    }
}

void DownloadTaskSpecification::onMetaDataChanged()
{
    if (!m_Reply)
        return;
    const QVariant status = m_Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return;
    const int code = status.toInt();
    if (code == 200)
        return;
    retryOrFail(tr("%1 returned %2").arg(m_Name).arg(code));
}

void DownloadTaskSpecification::onDownloadProgress(qlonglong bytesReceived, qlonglong bytesTotal)
{
    Q_UNUSED(bytesReceived)
    if (bytesTotal > 0 && m_Total == -1)
        m_Total = bytesTotal;
}

void DownloadTaskSpecification::onReadyRead()
{
    drainReply();
}

bool DownloadTaskSpecification::drainReply()
{
    char buffer[kPieceSize];
    while (m_Reply) {
        m_IdleTicks = 0;
        const qint64 available = m_Reply->bytesAvailable();
        if (available == 0)
            return true;
        const qint64 read = m_Reply->read(buffer, std::min<qint64>(available, kPieceSize));
        if (read == 0)
            return true;
        if (read < 0) {
            retryOrFail(m_Reply->errorString());
            return false;
        }
        const qint64 written = m_File.write(buffer, read);
        if (written < 0) {
            retryOrFail(m_File.errorString());
            return false;
        }
        if (written < read) {
            retryOrFail(tr("Error writing to file %1. Should write %2 bytes but wrote %3 bytes")
                            .arg(m_File.fileName())
                            .arg(read)
                            .arg(written));
            return false;
        }
        m_Received += read;
        if (m_Total > 0)
            setProgressFraction(std::min(1.0, double(m_Received) / double(m_Total)));
    }
    return true;
}

void DownloadTaskSpecification::onDownloadFinished()
{
    if (!m_Reply)
        return;
    if (m_Reply->error() != QNetworkReply::NoError) {
        if (m_Reply->error() == QNetworkReply::AuthenticationRequiredError)
            m_Reply->close();
        retryOrFail(m_Reply->errorString());
        return;
    }
    if (!drainReply())
        return;
    m_Reply->close();
    m_Reply->deleteLater();
    m_Reply = nullptr;
    m_File.close();
    downloadFinished();
}

void DownloadTaskSpecification::downloadFinished()
{
    qDebug() << "Download finished:" << m_Name << m_File.fileName()
             << (m_File.isOpen() ? "true" : "false") << (m_File.exists() ? "true" : "false");
    emit message(tr("Downloading %1 finished").arg(m_Name));
    setFinished();
}

bool DownloadTaskSpecification::retryOrFail(const QString &text)
{
    resetDownload();
    emit message(text);
    const int r = m_Retries;
    m_Retries = r + 1;
    if (r < kMaxRetries) {
        startDownload();
        return true;
    }
    emit message(tr("Unable to download %1").arg(m_Name));
    m_File.remove();
    setFailed();
    return false;
}

void DownloadTaskSpecification::resetDownload()
{
    if (m_Reply) {
        disconnect(m_Reply, nullptr, this, nullptr);
        m_Reply->deleteLater();
        m_Reply = nullptr;
    }
    m_IdleTicks = 0;
    if (m_File.isOpen()) {
        m_File.close();
        m_File.remove();
    }
    m_LastReported = 0;
    m_Total = m_ExpectedSize;
    m_Received = 0;
    setProgressFraction(0);
}

void DownloadTaskSpecification::getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                                                    bool &downloading)
{
    done = quint64(m_Received);
    total = m_Total >= 0 ? quint64(m_Total) : 0;
    speed = quint64(m_Received - m_LastReported);
    m_LastReported = m_Received;

    if (m_TaskState == RUNNING && m_Reply) {
        const int t = m_IdleTicks;
        m_IdleTicks = t + 1;
        if (t < kStallPolls)
            downloading = true;
        else
            retryOrFail(tr("file %1 timed out").arg(m_Name));
    }
}

void DownloadTaskSpecification::cancel()
{
    m_CancelRequested = true;
    if (m_TaskState == RUNNING) {
        resetDownload();
        setCanceled();
    }
}

void DownloadTaskSpecification::handleOtherTaskCancelled(TaskSpecification *other)
{
    if (m_Reply) {
        emit message(tr("Abort downloading %1").arg(m_Name));
        resetDownload();
    }
    // When the sibling ended because the user canceled, this download ends the
    // same way; ending FAILED would turn the user's abort of parallel downloads
    // into a failed update.
    if (other && other->m_TaskState == CANCELED)
        setCanceled();
    else
        setFailed();
}
