// ov3-publish versions: writes and reads the version server's answer, one
// serialized Versions message, which any static web server can then serve at
// "/ov3-client-2".
//
//   versions encode OUT --license N --channel NAME:NUMBER:STRING...
//   versions decode FILE
//
// decode prints "license N" and then one line NAME:NUMBER:STRING per channel,
// in message order, duplicates included.

#include "command.h"

#include "UpdateMessage.pb.h"

#include <QFile>
#include <QSaveFile>
#include <QSet>

#include <cstdio>
#include <string>

namespace {

struct ChannelArgument
{
    QString name;
    int number = 0;
    QString text;
};

// NAME:NUMBER:STRING; the string is the rest of the argument and may itself
// contain colons.
bool parseChannel(const QString &argument, ChannelArgument *channel, QString *error)
{
    const int first = argument.indexOf(':');
    const int second = first < 0 ? -1 : argument.indexOf(':', first + 1);
    if (second < 0) {
        *error = "channel '" + argument + "' is not NAME:NUMBER:STRING";
        return false;
    }
    channel->name = argument.left(first);
    channel->text = argument.mid(second + 1);
    bool ok = false;
    const QString number = argument.mid(first + 1, second - first - 1);
    channel->number = number.toInt(&ok, 10);
    if (channel->name.isEmpty()) {
        *error = "channel '" + argument + "' has no name";
        return false;
    }
    // The updater takes only positive numbers as a target version.
    if (!ok || channel->number <= 0) {
        *error = "channel '" + channel->name + "' has an invalid version number '" + number + "'";
        return false;
    }
    return true;
}

int encode(const QStringList &args)
{
    if (args.isEmpty() || args.front().startsWith("--"))
        return publishUsageError("versions encode: no output file given");
    const QString out = args.front();

    bool haveLicense = false;
    int license = 0;
    QList<ChannelArgument> channels;
    QSet<QString> names;
    for (int i = 1; i < args.size(); ++i) {
        const QString &option = args.at(i);
        if (option == "--license") {
            if (i + 1 >= args.size())
                return publishUsageError("versions encode: --license needs a number");
            bool ok = false;
            license = args.at(++i).toInt(&ok, 10);
            if (!ok)
                return publishUsageError("versions encode: invalid licence id '" + args.at(i) +
                                         "'");
            haveLicense = true;
        } else if (option == "--channel") {
            if (i + 1 >= args.size() || args.at(i + 1).startsWith("--"))
                return publishUsageError("versions encode: --channel needs NAME:NUMBER:STRING");
            while (i + 1 < args.size() && !args.at(i + 1).startsWith("--")) {
                ChannelArgument channel;
                QString error;
                if (!parseChannel(args.at(++i), &channel, &error))
                    return publishUsageError("versions encode: " + error);
                // The updater would silently take the first of two entries.
                if (names.contains(channel.name))
                    return publishUsageError("versions encode: channel '" + channel.name +
                                             "' given twice");
                names.insert(channel.name);
                channels.append(channel);
            }
        } else {
            return publishUsageError("versions encode: unexpected argument '" + option + "'");
        }
    }
    if (!haveLicense)
        return publishUsageError("versions encode: --license is required");

    com::orvane::update::Versions message;
    message.set_licenseagreementid(license);
    for (const ChannelArgument &channel : channels) {
        com::orvane::update::Channel *entry = message.add_channels();
        entry->set_name(channel.name.toStdString());
        entry->set_version_number(channel.number);
        entry->set_version_string(channel.text.toStdString());
    }
    std::string bytes;
    if (!message.SerializeToString(&bytes))
        return publishFailure("versions encode: cannot serialize the message");

    QSaveFile file(out);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()) || !file.commit())
        return publishFailure("versions encode: cannot write " + out + ": " + file.errorString());
    return 0;
}

int decode(const QStringList &args)
{
    if (args.size() != 1)
        return publishUsageError("versions decode: expected exactly one FILE");
    QFile file(args.front());
    if (!file.open(QIODevice::ReadOnly))
        return publishFailure("versions decode: cannot read " + args.front() + ": " +
                              file.errorString());
    const QByteArray bytes = file.readAll();

    com::orvane::update::Versions message;
    // The partial parse plus the explicit check keep the protobuf runtime from
    // logging its own line about missing fields.
    if (!message.ParsePartialFromArray(bytes.constData(), bytes.size()) || !message.IsInitialized())
        return publishFailure("versions decode: " + args.front() +
                              " is not a valid Versions message");

    std::printf("license %d\n", message.licenseagreementid());
    for (const auto &channel : message.channels())
        std::printf("%s:%d:%s\n", channel.name().c_str(), channel.version_number(),
                    channel.version_string().c_str());
    return 0;
}

int versions(const QStringList &args)
{
    if (args.isEmpty())
        return publishUsageError("versions: expected 'encode' or 'decode'");
    const QString sub = args.front();
    if (sub == "encode")
        return encode(args.mid(1));
    if (sub == "decode")
        return decode(args.mid(1));
    return publishUsageError("versions: unknown subcommand '" + sub + "'");
}

const PublishCommand command("versions",
                             "versions encode OUT --license N --channel NAME:NUMBER:STRING... | "
                             "versions decode FILE",
                             versions);

} // namespace
