#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QThread>

class QNetworkReply;

// Performs one HTTP GET on a thread of its own, with a network access manager
// of its own, and hands the body back on the thread that created it. Deletes
// itself after its thread ended.
class HTTPDownloader : public QThread
{
    Q_OBJECT

public:
    explicit HTTPDownloader(const QNetworkRequest &request);
    ~HTTPDownloader() override;

    // Bodies above this size are refused: no answer the updater asks for comes
    // near it, and a broken server must not fill the memory.
    static const qint64 MaxBodySize = 1024 * 1024;

signals:
    // The reply body, or an empty array when the request failed.
    void download_available(QByteArray data);

protected:
    void run() override;

private slots:
    virtual void on_downloadFinished(QNetworkReply *reply);

private:
    QNetworkRequest request;
};
