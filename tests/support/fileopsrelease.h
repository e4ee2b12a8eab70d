#pragma once

#include "downloadreplacelists.h"

#include <QByteArray>
#include <QList>
#include <QString>

// One release step of a small client, built from real programs: the old
// installation, the downloads a client update leaves in the temporary
// directory, the replace list that goes with them, and the new release the
// installation must equal afterwards.
//
//   ov3client_linux_amd64  patched (ensemble patch from one program to another)
//   lib/libfoo.so.1        LZMA2 package of a program (disassembled form)
//   lib/libbar.so.1.2      gzip package
//   data/readme.txt        plain file replacing an installed one
//   newdir/sub/new.txt     plain file in directories that do not exist yet
//   data/unchanged.txt     in both releases, not in the list
//
// The patch and the package are made once per test program with ovpatch.
class ClientRelease
{
public:
    // Lays the release out below root ("install", "temp", "new"); false with
    // the reason when a tool failed.
    bool build(const QString &root, QString *why);

    void installOld(const QString &rel, const QByteArray &bytes, uint mode);
    ReplaceEntry packed(const QString &key, const QString &target, const QByteArray &result,
                        const QString &patch = QString());
    ReplaceEntry plain(const QString &key, const QByteArray &content);

    // The product ini lines of the release's file section (section name
    // "client"): the full files and packages, plus the patch line.
    QString productIniSection() const;

    // The bytes of the artifacts as the file server has them.
    static bool artifacts(QByteArray *patch, QByteArray *package, QString *why);

    QString m_Install;
    QString m_Temp;
    QString m_New;
    QList<ReplaceEntry> m_List;
    // What the file server offers: relative name below the section folder to
    // bytes.
    QList<QPair<QString, QByteArray>> m_ServerFiles;
    QByteArray m_Bar;
};
