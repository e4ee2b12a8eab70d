#include "httpdownloader.h"

#include <QCoreApplication>
#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>

HTTPDownloader::HTTPDownloader(const QNetworkRequest &request) : request(request)
{
    // A query that never answers must not outlive the application: a thread
    // still running its network access manager while the process tears down
    // its globals can crash the exit. Ending the loop lets run() clean up.
    if (QCoreApplication *app = QCoreApplication::instance()) {
        connect(app, &QCoreApplication::aboutToQuit, this, [this] {
            quit();
            wait();
        });
    }
}

HTTPDownloader::~HTTPDownloader()
{
    // run() schedules this deletion as its last step, so the GUI thread may
    // get here while the thread is still winding down; destroying a running
    // QThread aborts the process.
    wait();
}

void HTTPDownloader::run()
{
    QNetworkAccessManager *manager = new QNetworkAccessManager;
    // The downloader object lives on the creating thread, so the slot runs
    // there, queued.
    connect(manager, SIGNAL(finished(QNetworkReply *)), this,
            SLOT(on_downloadFinished(QNetworkReply *)));
    QNetworkReply *reply = manager->get(request);
    // Runs on this thread, next to the reply.
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > MaxBodySize || total > MaxBodySize) {
            qWarning() << "HTTPDownloader: answer larger than" << MaxBodySize << "bytes, aborting";
            reply->abort();
        }
    });
    exec();
    // Deleting the manager deletes its replies with it.
    delete manager;
    deleteLater();
}

void HTTPDownloader::on_downloadFinished(QNetworkReply *reply)
{
    QByteArray body;
    if (reply->error() != QNetworkReply::NoError) {
        qDebug() << "HTTPDownloader: request failed:" << reply->error() << reply->errorString();
    } else if (reply->bytesAvailable() > MaxBodySize) {
        // Arrived in one piece before the progress check could stop it.
        qWarning() << "HTTPDownloader: answer larger than" << MaxBodySize << "bytes, ignored";
    } else {
        body = reply->readAll();
    }
    emit download_available(body);
    reply->deleteLater();
    quit();
}
