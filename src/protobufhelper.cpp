#include "protobufhelper.h"

#include "UpdateMessage.pb.h"

#include <QMetaType>

int parseVersionsMessage(const void *data, int length, VersionInfo *out)
{
    if (!data)
        return VERSIONS_NO_DATA;
    if (length < 0)
        return VERSIONS_INVALID;

    com::orvane::update::Versions message;
    // Truncated input and trailing bytes that do not form fields fail the
    // parse; a missing required field fails the initialization check. (The
    // plain ParseFromArray would also print the runtime's own error line.)
    if (!message.ParsePartialFromArray(data, length) || !message.IsInitialized())
        return VERSIONS_INVALID;

    VersionInfo info;
    info.licenseAgreementId = message.licenseagreementid();
    for (const auto &channel : message.channels()) {
        info.channelNames.push_back(channel.name());
        info.channels.emplace(channel.name(), VersionInfo::Channel{channel.version_number(),
                                                                   channel.version_string()});
    }
    if (out)
        *out = std::move(info);
    return VERSIONS_PARSED;
}

UpdateVersions updateVersionsFromMessage(const QByteArray &body)
{
    VersionInfo info;
    // A default-constructed QByteArray has a null data(), which would read as
    // "no data"; an empty body is a malformed answer like any other.
    const char *data = body.isNull() ? "" : body.constData();
    UpdateVersions result;
    if (parseVersionsMessage(data, body.size(), &info) != VERSIONS_PARSED)
        return result;
    for (const std::string &name : info.channelNames) {
        const VersionInfo::Channel &channel = info.channels.at(name);
        result.insert(QString::fromStdString(name),
                      qMakePair(QString::number(channel.versionNumber),
                                QString::fromStdString(channel.versionString)));
    }
    return result;
}

void registerUpdateVersionsMetaType()
{
    qRegisterMetaType<UpdateVersions>("UpdateVersions");
}
