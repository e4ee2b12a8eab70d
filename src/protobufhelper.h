#pragma once

#include <QByteArray>
#include <QHash>
#include <QPair>
#include <QString>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The version server's answer as the updater passes it around: channel name ->
// (version number as decimal text, version string). Empty means no usable
// answer arrived.
// Qt declares the hash type itself; registerUpdateVersionsMetaType() adds the
// name that signal signatures use.
typedef QHash<QString, QPair<QString, QString>> UpdateVersions;

// One decoded Versions message.
struct VersionInfo
{
    struct Channel
    {
        int32_t versionNumber = 0;
        std::string versionString;
    };

    int32_t licenseAgreementId = 0;
    // Every channel's name in message order, duplicates included.
    std::vector<std::string> channelNames;
    // Per name; for a name that occurs twice the first occurrence wins.
    std::map<std::string, Channel> channels;
};

enum VersionsParseStatus
{
    VERSIONS_PARSED = 0,
    VERSIONS_NO_DATA = 1,
    VERSIONS_INVALID = 2,
};

// Decodes length bytes at data. Returns VERSIONS_NO_DATA for a null pointer and
// VERSIONS_INVALID when the bytes are not one complete Versions message (a
// missing required field included); out is only written on VERSIONS_PARSED.
int parseVersionsMessage(const void *data, int length, VersionInfo *out);

// The whole answer path of a reply body: empty when the body does not decode
// or names no channel.
UpdateVersions updateVersionsFromMessage(const QByteArray &body);

// Makes UpdateVersions usable as a queued signal argument under its own name.
void registerUpdateVersionsMetaType();
