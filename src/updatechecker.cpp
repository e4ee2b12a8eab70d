#include "updatechecker.h"

#include "httpdownloader.h"
#include "ov3settings.h"

#include <QDebug>
#include <QNetworkRequest>
#include <QProcessEnvironment>
#include <QUrl>

UpdateChecker::UpdateChecker(QObject *parent) : QObject(parent) {}

QString UpdateChecker::versionServerUrl()
{
    const QString url = QProcessEnvironment::systemEnvironment().value("OV3_VERSION_SERVER_URL");
    return url.isEmpty() ? QString(OV3_DEFAULT_VERSION_SERVER_URL) : url;
}

void UpdateChecker::checkForUpdate()
{
    const QUrl url(versionServerUrl());
    QNetworkRequest request(url);
    // Static web servers commonly redirect (a moved folder, http to https);
    // never towards a less safe scheme, and not in circles.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(10);
    qDebug() << "checkForUpdate" << request.url().toString();

    HTTPDownloader *downloader = new HTTPDownloader(request);
    connect(downloader, SIGNAL(download_available(QByteArray)), this,
            SLOT(on_updateCheckAvailable(QByteArray)));
    downloader->start();
}

void UpdateChecker::on_updateCheckAvailable(QByteArray updateData)
{
    const UpdateVersions versions = updateVersionsFromMessage(updateData);
    if (versions.isEmpty())
        qDebug() << "UpdateChecker: no usable answer," << updateData.size() << "bytes received";
    emit update_available(versions);
    deleteLater();
}
