#pragma once

#include "taskspecification.h"

#include <QFile>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// Fetches one file from the file server with a plain GET into a local file,
// streaming the body in small pieces. Every failed attempt (network error,
// status other than 200, write error, stall) throws the partial file away and
// starts again from the first byte; the fifth failure over the task's life
// removes the file and fails the task.
//
// The stall watchdog is driven by getDownloadProgress(), which the update
// engine's timer calls once a second.
class DownloadTaskSpecification : public TaskSpecification
{
    Q_OBJECT
public:
    // name: path below the version folder on the file server; filePath: the
    // local target; expectedSize: -1 when unknown.
    DownloadTaskSpecification(QNetworkAccessManager *nam, const QString &name, int version,
                              const QString &filePath, qint64 expectedSize, QObject *parent,
                              qreal weight);

    void execute() override;
    void reset() override;
    // Also the watchdog: a running transfer that has received nothing for
    // kStallPolls polls in a row is retried at the next poll.
    void getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                             bool &downloading) override;
    // Stops at once: the partial file is removed and the task ends CANCELED.
    void cancel() override;
    // A sibling ended: stops at once and ends FAILED, or CANCELED when the
    // sibling was canceled.
    void handleOtherTaskCancelled(TaskSpecification *other) override;
    virtual void downloadFinished();

    // The URL of a file: fileServerBaseUrl, the version, "/" and the name.
    static QString downloadUrl(int version, const QString &name);

    static const int kMaxRetries = 4;
    static const int kStallPolls = 15;
    static const int kPieceSize = 4096;

    QNetworkAccessManager *m_NetworkManager;
    QNetworkReply *m_Reply;
    int m_IdleTicks;
    QString m_Name;
    int m_Version;
    QFile m_File;
    int m_Retries;
    qint64 m_LastReported;
    qint64 m_Total;
    qint64 m_ExpectedSize;
    qint64 m_Received;

public slots:
    void onDownloadProgress(qlonglong bytesReceived, qlonglong bytesTotal);
    void onReadyRead();
    void onDownloadFinished();
    void onMetaDataChanged();

private:
    void startDownload();
    // Copies what the reply holds into the file; false when that ended the
    // attempt.
    bool drainReply();
    // Ends the current attempt with text; starts the next one, or fails the
    // task when the attempts are used up. True when another attempt started.
    bool retryOrFail(const QString &text);
    // Drops the reply and the partial file and zeroes the counters.
    void resetDownload();
};
