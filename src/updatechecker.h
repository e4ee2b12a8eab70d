#pragma once

#include "protobufhelper.h"

#include <QObject>

// Asks the version server for the newest version of every channel. Answers
// exactly once through update_available, then deletes itself.
class UpdateChecker : public QObject
{
    Q_OBJECT

public:
    explicit UpdateChecker(QObject *parent);

    // Starts the query and returns at once.
    void checkForUpdate();

    // The compiled-in endpoint, unless OV3_VERSION_SERVER_URL names another.
    static QString versionServerUrl();

signals:
    // Empty when the query failed or the answer did not decode.
    void update_available(UpdateVersions versions);

private slots:
    void on_updateCheckAvailable(QByteArray updateData);
};
