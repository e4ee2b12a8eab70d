#include "makedownloadreplacelistfunc.h"

#include "checksigfunc.h"
#include "configuration.h"
#include "downloadreplacelists.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {

const QString kDeleteSection = QStringLiteral("delete");
const QString kPreInstallSection = QStringLiteral("preinstall");
const QString kPostInstallSection = QStringLiteral("postinstall");
const QString kPatchSuffix = QStringLiteral("_patch_");
const QString kFieldSeparator = QStringLiteral("::");
const QString kInstallDirPlaceholder = QStringLiteral("__OV3_DIR__");
const int kOwnPlatform = 4;

const char *boolText(bool b)
{
    return b ? "true" : "false";
}

QStringList splitFields(const QString &value)
{
    return value.split(kFieldSeparator, Qt::KeepEmptyParts);
}

quint64 toSize(const QString &text)
{
    // Unparsable sizes read as 0, like every other number of the product ini.
    return text.toULongLong();
}

bool isPatchKey(const QString &key)
{
    return key.endsWith(kPatchSuffix, Qt::CaseSensitive);
}

bool isFileSection(const QString &section)
{
    return section != kDeleteSection && section != kPreInstallSection &&
           section != kPostInstallSection;
}

} // namespace

MakeDownloadReplaceListFunc::MakeDownloadReplaceListFunc(Configuration *config,
                                                         DownloadReplaceLists *out)
    : m_Config(config), m_Out(out)
{
}

QString MakeDownloadReplaceListFunc::iniFileName(int updateStep)
{
    QString name;
    if (updateStep == 1)
        name += QStringLiteral("ov3_");
    name += updateStep != 0 ? QStringLiteral("client") : QStringLiteral("update");
    name += QStringLiteral("_linux_amd64");
    name += QStringLiteral(".ini");
    return name;
}

int MakeDownloadReplaceListFunc::platformCode(const QString &name)
{
    const QString n = name.toLower();
    if (n == QLatin1String("win32"))
        return 1;
    if (n == QLatin1String("win64"))
        return 2;
    if (n == QLatin1String("linux32"))
        return 3;
    if (n == QLatin1String("linux64"))
        return 4;
    if (n == QLatin1String("mac"))
        return 5;
    return 0;
}

bool MakeDownloadReplaceListFunc::isContainedPath(const QString &path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || QDir::isAbsolutePath(path))
        return false;
    const QString clean = QDir::cleanPath(path);
    if (clean.isEmpty() || clean == QLatin1String("."))
        return false;
    return clean != QLatin1String("..") && !clean.startsWith(QLatin1String("../"));
}

bool MakeDownloadReplaceListFunc::fileMatches(const QString &path, const QString &expected)
{
    CheckSigFunc check(path, expected);
    return check.run();
}

bool MakeDownloadReplaceListFunc::run()
{
    m_Out->clear();

    const QString tempDir = m_Config->m_TempDir;
    const QString prodIni = tempDir + QLatin1Char('/') + iniFileName(m_Config->m_UpdateStep);
    qDebug() << "prodIni" << prodIni;

    emit message(tr("Compiling download and replace list for %1")
                     .arg(m_Config->m_UpdateStep == 0 ? QStringLiteral("updater")
                                                      : QStringLiteral("client")));

    QSettings ini(prodIni, QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    const QStringList sections = ini.childGroups();
    int total = 0;
    for (const QString &section : sections) {
        ini.beginGroup(section);
        total += ini.allKeys().size();
        ini.endGroup();
    }
    if (total == 0) {
        emit message(tr("No files in product ini"));
        return false;
    }

    if (!checkPaths(ini))
        return false;

    int n = 0;
    for (const QString &section : sections) {
        ini.beginGroup(section);
        QStringList keys;
        QStringList patchKeys;
        for (const QString &key : ini.allKeys()) {
            if (isPatchKey(key))
                patchKeys.append(key);
            else
                keys.append(key);
        }

        // Patches apply only to files of their own section.
        QMultiMap<QString, PatchEntry> patches;
        for (const QString &key : patchKeys) {
            const QStringList f = splitFields(ini.value(key).toString());
            if (f.size() != 5) {
                emit message(
                    tr("Warning: product ini contains invalid line in section %1").arg(section));
                ini.endGroup();
                return false;
            }
            PatchEntry p;
            p.section = section;
            p.key = key;
            p.sha512 = f[0];
            p.size = toSize(f[1]);
            p.oldSha512 = f[2];
            p.oldSize = toSize(f[3]);
            p.targetName = f[4];
            // insert() puts the new entry in front of older ones with the same
            // target, so the line read last is tried first.
            patches.insert(p.targetName, p);
            qDebug() << "ADD PATCH" << p.targetName << p.key << p.sha512 << p.size << p.oldSha512
                     << p.oldSize;
        }

        if (section == kDeleteSection)
            addDeleteEntries(ini, keys, n, total);
        else if (section == kPreInstallSection || section == kPostInstallSection)
            addCommandEntries(ini, section, keys);
        else
            addFileEntries(ini, section, keys, patches, n, total);
        ini.endGroup();
    }
    return true;
}

void MakeDownloadReplaceListFunc::reportUnsafePath(const QString &section, const QString &key,
                                                   const QString &path)
{
    qDebug() << "Unsafe path in product ini" << section << key << path;
    emit message(tr("Product ini line '%1' in section %2 names the path '%3', which is absolute "
                    "or leaves its directory. Aborting")
                     .arg(key, section, path));
}

bool MakeDownloadReplaceListFunc::checkPaths(QSettings &ini)
{
    // Every key is a path: below the installation directory (files, delete
    // lines), below the temporary directory (downloads, commands) or both.
    // The installed path of a package or patch comes from its fifth field.
    for (const QString &section : ini.childGroups()) {
        ini.beginGroup(section);
        const QStringList keys = ini.allKeys();
        for (const QString &key : keys) {
            if (!isContainedPath(key)) {
                reportUnsafePath(section, key, key);
                ini.endGroup();
                return false;
            }
            const bool patch = isPatchKey(key);
            if (!patch && !isFileSection(section))
                continue;
            const QStringList f = splitFields(ini.value(key).toString());
            if (f.size() != 5)
                continue;
            // An empty installed path means the key is the installed path.
            const QString &target = f[4];
            if (!target.isEmpty() && !isContainedPath(target)) {
                reportUnsafePath(section, key, target);
                ini.endGroup();
                return false;
            }
        }
        ini.endGroup();
    }
    return true;
}

void MakeDownloadReplaceListFunc::addDeleteEntries(QSettings &ini, const QStringList &keys, int &n,
                                                   int total)
{
    const QString installDir = m_Config->m_InstallDir;
    for (const QString &key : keys) {
        ++n;
        emit progress(qreal(n) / total);
        if (!QFileInfo::exists(installDir + QLatin1Char('/') + key))
            continue;
        // Non-numbers read as 0; 10, 11 and everything above 12 are reserved.
        const int v = ini.value(key).toString().trimmed().toInt();
        if (v < 10 || v == 12) {
            DeleteEntry entry;
            entry.path = key;
            entry.recursive = (v == 2);
            m_Out->deleteList.append(entry);
        }
    }
}

void MakeDownloadReplaceListFunc::addCommandEntries(QSettings &ini, const QString &section,
                                                    const QStringList &keys)
{
    const QString installDir = m_Config->m_InstallDir;
    QList<CommandEntry> &out =
        section == kPreInstallSection ? m_Out->preInstallList : m_Out->postInstallList;
    for (const QString &key : keys) {
        const QStringList items = ini.value(key).toStringList();
        qDebug() << "prepostinstall cmd" << key << "v" << items;
        if (items.isEmpty())
            continue;
        const QStringList platforms = splitFields(items[0]);
        QStringList args = items.size() >= 2 ? splitFields(items[1]) : QStringList();
        const bool optional = items.size() >= 3 && items[2] == QLatin1String("optional");
        qDebug() << "--->" << key << "os list" << platforms << "args" << args << "required"
                 << boolText(!optional);
        for (QString &arg : args)
            arg.replace(kInstallDirPlaceholder, installDir, Qt::CaseSensitive);
        qDebug() << "replaced args: " << args;
        // A platform named twice runs the command twice, as the list says.
        for (const QString &platform : platforms) {
            if (platformCode(platform) != kOwnPlatform)
                continue;
            CommandEntry entry;
            entry.command = key;
            entry.args = args;
            entry.required = !optional;
            out.append(entry);
        }
    }
}

void MakeDownloadReplaceListFunc::addFileEntries(QSettings &ini, const QString &section,
                                                 const QStringList &keys,
                                                 const QMultiMap<QString, PatchEntry> &patches,
                                                 int &n, int total)
{
    const QString tempDir = m_Config->m_TempDir;
    const QString installDir = m_Config->m_InstallDir;
    for (const QString &key : keys) {
        ++n;
        emit progress(qreal(n) / total);

        const QStringList f = splitFields(ini.value(key).toString());
        if (f.size() != 2 && f.size() != 5) {
            emit message(
                tr("Warning: product ini contains invalid line in section %1").arg(section));
            continue;
        }

        DownloadEntry dl;
        dl.section = section;
        dl.name = key;
        dl.sha512 = f[0];
        dl.size = toSize(f[1]);
        ReplaceEntry re;
        re.section = section;
        re.key = key;
        if (f.size() == 5) {
            re.sha512 = f[2];
            re.size = toSize(f[3]);
            re.targetName = f[4];
        }

        const QString rel = re.targetName.isEmpty() ? key : re.targetName;
        const QString installed = installDir + QLatin1Char('/') + rel;
        const bool exists = QFile::exists(installed);
        const bool hasPatch = !re.targetName.isEmpty() && patches.contains(re.targetName);
        qDebug() << "CHECK PATCH" << re.targetName << boolText(exists) << boolText(hasPatch);

        bool replace = !exists;
        if (exists && hasPatch) {
            // values() lists the newest entry first.
            for (const PatchEntry &p : patches.values(re.targetName)) {
                const bool match = fileMatches(installed, p.oldSha512);
                qDebug() << "Check Sig" << installed << p.oldSha512 << "=>" << boolText(match);
                if (match) {
                    re.patchName = p.key;
                    dl.name = p.key;
                    dl.sha512 = p.sha512;
                    dl.size = p.size;
                    qDebug() << "Found patch for" << key << installed;
                    replace = true;
                    break;
                }
            }
        }
        if (exists && !replace) {
            const QString expected = re.targetName.isEmpty() ? dl.sha512 : re.sha512;
            replace = !fileMatches(installed, expected);
        }

        if (!replace) {
            // Current. The new updater is assembled in the temporary directory,
            // so a self-update needs a copy of every file it keeps.
            if (m_Config->m_UpdateStep == 0) {
                const QString dest = tempDir + QLatin1Char('/') + rel;
                QDir().mkpath(QFileInfo(dest).path());
                const bool copied = QFile::copy(installed, dest);
                qDebug() << "Copying updater files:" << installed << "to" << dest
                         << boolText(copied);
            }
            continue;
        }

        m_Out->replaceList.append(re);
        const QString cached = tempDir + QLatin1Char('/') + dl.name;
        if (!QFile::exists(cached) || !fileMatches(cached, dl.sha512)) {
            m_Out->downloadList.append(dl);
            qDebug() << "Queueing download:" << key;
        }
    }
}
