#pragma once

#include <QStringList>

// Each subcommand of ov3-publish lives in its own file and registers itself
// with a static PublishCommand object.
//
// Exit codes: 0 success, 1 failure (one line on stderr names what failed),
// 2 usage error.
using PublishHandler = int (*)(const QStringList &args);

struct PublishCommand
{
    PublishCommand(const char *name, const char *usage, PublishHandler handler);
};

int publishUsageError(const QString &message);
int publishFailure(const QString &message);
