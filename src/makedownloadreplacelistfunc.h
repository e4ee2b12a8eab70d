#pragma once

#include "asyncfunc.h"

#include <QMultiMap>
#include <QString>

class Configuration;
class QSettings;
struct DownloadReplaceLists;

// The body of MakeDownloadReplaceListTaskSpecification: reads the verified
// product ini from the temporary directory, compares it with the installation
// and fills the five lists of the plan.
//
// Product ini: sections of "key = value" lines. Section "delete" lists
// installed paths to remove ("path = 2" removes a directory recursively),
// "preinstall" and "postinstall" list commands ("program = platforms, args,
// optional", each item "::"-separated), every other section lists files and is
// also the files' folder on the file server. A file line is
// "path = sha512::size" or "package = sha512::size::unpackedSha512::
// unpackedSize::installedPath"; a key ending in "_patch_" is a patch,
// "patch = sha512::size::oldSha512::oldSize::installedPath".
class MakeDownloadReplaceListFunc : public ASyncFunc
{
    Q_OBJECT
public:
    MakeDownloadReplaceListFunc(Configuration *config, DownloadReplaceLists *out);

    // True when the lists were compiled; false when the product ini has no
    // entries, holds a malformed patch line or names an unsafe path.
    bool run() override;

    // The product ini of an update step: "ov3_client_linux_amd64.ini" for the
    // client (step 1), "update_linux_amd64.ini" for the updater (step 0).
    static QString iniFileName(int updateStep);
    // Platform code of a command line's platform name; 4 is this program's.
    static int platformCode(const QString &name);
    // True when path, taken relative to a directory, names something inside
    // it: not empty, not absolute, not the directory itself, and its ".."
    // components do not climb out.
    static bool isContainedPath(const QString &path);

private:
    struct PatchEntry
    {
        QString section;
        QString key;
        QString sha512;
        quint64 size = 0;
        QString targetName;
        QString oldSha512;
        quint64 oldSize = 0;
    };

    // Checks every path the product ini names before anything is read from
    // or written to the installation; emits a message naming the first
    // offending line.
    bool checkPaths(QSettings &ini);
    void addDeleteEntries(QSettings &ini, const QStringList &keys, int &n, int total);
    void addCommandEntries(QSettings &ini, const QString &section, const QStringList &keys);
    void addFileEntries(QSettings &ini, const QString &section, const QStringList &keys,
                        const QMultiMap<QString, PatchEntry> &patches, int &n, int total);
    void reportUnsafePath(const QString &section, const QString &key, const QString &path);

    // SHA-512 comparison (RSA signature check when expected is empty) of one
    // file, run synchronously on this body's thread.
    static bool fileMatches(const QString &path, const QString &expected);

    Configuration *m_Config;
    DownloadReplaceLists *m_Out;
};
