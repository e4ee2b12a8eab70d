#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// The plan of one run, compiled from the product ini by
// MakeDownloadReplaceListTaskSpecification and read by the later steps.

// One file to fetch from the file server into the temporary directory.
struct DownloadEntry
{
    // Section of the product ini line; the file's folder on the server.
    QString section;
    // Name below the section folder on the server and below the temporary
    // directory locally: the key of the file line or of the chosen patch line.
    QString name;
    // Expected SHA-512 of the downloaded file, hexadecimal.
    QString sha512;
    // Expected size of the downloaded file.
    quint64 size = 0;
};

// One installed file to create or change.
struct ReplaceEntry
{
    QString section;
    // Key of the file line: a plain file's path or a package's name. The
    // download has this name unless a patch was chosen.
    QString key;
    // Packed file: SHA-512 and size of the unpacked file; plain file: empty, 0.
    QString sha512;
    quint64 size = 0;
    // Packed file: installed path relative to the installation directory;
    // plain file: empty (the key is the installed path).
    QString targetName;
    // Key of the patch line chosen for this file, else empty.
    QString patchName;

    // The installed relative path (targetName, else key) with prefix put in
    // front of its file name part: "dir/file" with prefix "p" gives
    // "dir/pfile", "file" gives "pfile". An empty prefix returns the path.
    QString prefixedTargetPath(const QString &prefix) const;
};

// One installed path to remove.
struct DeleteEntry
{
    // Relative to the installation directory.
    QString path;
    // The path is a directory to remove with its contents.
    bool recursive = false;
};

// One program to run before or after the files are replaced.
struct CommandEntry
{
    // File name of the program, relative to the temporary directory.
    QString command;
    // Arguments with "__OV3_DIR__" already replaced by the installation
    // directory.
    QStringList args;
    // A failure of the command fails the update.
    bool required = true;
};

struct DownloadReplaceLists
{
    QList<DownloadEntry> downloadList;
    QList<ReplaceEntry> replaceList;
    QList<DeleteEntry> deleteList;
    QList<CommandEntry> preInstallList;
    QList<CommandEntry> postInstallList;

    void clear();
};
