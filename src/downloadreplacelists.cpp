#include "downloadreplacelists.h"

#include <QFileInfo>

QString ReplaceEntry::prefixedTargetPath(const QString &prefix) const
{
    const QString rel = targetName.isEmpty() ? key : targetName;
    if (prefix.isEmpty())
        return rel;
    const QFileInfo info(rel);
    const QString dir = info.path();
    if (dir == QLatin1String("."))
        return prefix + info.fileName();
    return dir + QLatin1Char('/') + prefix + info.fileName();
}

void DownloadReplaceLists::clear()
{
    downloadList.clear();
    replaceList.clear();
    deleteList.clear();
    preInstallList.clear();
    postInstallList.clear();
}
