#include "command.h"

#include <QCoreApplication>

#include <cstdio>
#include <map>
#include <string>

namespace {

struct Entry
{
    const char *usage;
    PublishHandler handler;
};

std::map<std::string, Entry> &registry()
{
    static std::map<std::string, Entry> commands;
    return commands;
}

void printUsage()
{
    std::fprintf(stderr, "usage: ov3-publish COMMAND ARGS...\n");
    for (const auto &[name, entry] : registry())
        std::fprintf(stderr, "  ov3-publish %s\n", entry.usage);
}

} // namespace

PublishCommand::PublishCommand(const char *name, const char *usage, PublishHandler handler)
{
    registry()[name] = Entry{usage, handler};
}

int publishUsageError(const QString &message)
{
    std::fprintf(stderr, "ov3-publish: %s\n", qPrintable(message));
    printUsage();
    return 2;
}

int publishFailure(const QString &message)
{
    std::fprintf(stderr, "ov3-publish: %s\n", qPrintable(message));
    return 1;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return publishUsageError("no command given");
    const auto it = registry().find(args.front().toStdString());
    if (it == registry().end())
        return publishUsageError("unknown command '" + args.front() + "'");
    args.removeFirst();
    return it->second.handler(args);
}
