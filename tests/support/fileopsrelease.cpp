#include "fileopsrelease.h"

#include "fileopstesthelpers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace fileopstest;

namespace {

QFileDevice::Permissions modeToPermissions(uint mode)
{
    static const QFileDevice::Permission bits[] = {
        QFileDevice::ExeOther, QFileDevice::WriteOther, QFileDevice::ReadOther,
        QFileDevice::ExeGroup, QFileDevice::WriteGroup, QFileDevice::ReadGroup,
        QFileDevice::ExeOwner, QFileDevice::WriteOwner, QFileDevice::ReadOwner};
    QFileDevice::Permissions p;
    for (int i = 0; i < 9; ++i)
        if (mode & (1u << i))
            p |= bits[i];
    return p;
}

QString line(const QByteArray &file)
{
    return sha512Hex(file) + "::" + QString::number(file.size());
}

} // namespace

bool ClientRelease::artifacts(QByteArray *patch, QByteArray *package, QString *why)
{
    static QTemporaryDir *cache = nullptr;
    static QString failure;
    if (!cache) {
        cache = new QTemporaryDir;
        QString err;
        if (runProgram(ovpatchTool(), {"make", "/bin/true", "/bin/false", cache->filePath("p")},
                       &err) != 0 ||
            runProgram(ovpatchTool(), {"pack", "/bin/echo", cache->filePath("k")}, &err) != 0)
            failure = "ovpatch failed: " + err;
    }
    *why = failure;
    *patch = readFile(cache->filePath("p"));
    *package = readFile(cache->filePath("k"));
    return failure.isEmpty();
}

bool ClientRelease::build(const QString &root, QString *why)
{
    m_Install = root + "/install";
    m_Temp = root + "/temp";
    m_New = root + "/new";
    for (const QString &dir : {m_Install, m_Temp, m_New})
        QDir().mkpath(dir);
    QByteArray patch, package;
    if (!artifacts(&patch, &package, why))
        return false;

    installOld("ov3client_linux_amd64", readFile("/bin/true"), 0755);
    installOld("lib/libfoo.so.1", "old foo library\n", 0644);
    installOld("lib/libbar.so.1.2", "old bar library\n", 0644);
    installOld("data/readme.txt", "old readme\n", 0644);
    installOld("data/unchanged.txt", "same in both\n", 0640);
    writeFile(m_New + "/data/unchanged.txt", "same in both\n");

    m_Bar = QByteArray("new bar library\n").repeated(500);
    m_ServerFiles = {{"ov3client_linux_amd64._patch_", patch},
                     {"libfoo.so.1._lzma2_", package},
                     {"libbar.so.1.2.gz", gzipBytes(m_Bar)},
                     {"data/readme.txt", "new readme\n"},
                     {"newdir/sub/new.txt", "brand new\n"}};
    for (const auto &file : qAsConst(m_ServerFiles))
        writeFile(m_Temp + "/" + file.first, file.second);

    m_List << packed("ov3client_linux_amd64._lzma2_", "ov3client_linux_amd64",
                     readFile("/bin/false"), "ov3client_linux_amd64._patch_")
           << packed("libfoo.so.1._lzma2_", "lib/libfoo.so.1", readFile("/bin/echo"))
           << packed("libbar.so.1.2.gz", "lib/libbar.so.1.2", m_Bar)
           << plain("data/readme.txt", "new readme\n")
           << plain("newdir/sub/new.txt", "brand new\n");
    return true;
}

void ClientRelease::installOld(const QString &rel, const QByteArray &bytes, uint mode)
{
    writeFile(m_Install + "/" + rel, bytes);
    QFile::setPermissions(m_Install + "/" + rel, modeToPermissions(mode));
}

ReplaceEntry ClientRelease::packed(const QString &key, const QString &target,
                                   const QByteArray &result, const QString &patch)
{
    writeFile(m_New + "/" + target, result);
    ReplaceEntry e;
    e.section = "client";
    e.key = key;
    e.sha512 = sha512Hex(result);
    e.size = quint64(result.size());
    e.targetName = target;
    e.patchName = patch;
    return e;
}

ReplaceEntry ClientRelease::plain(const QString &key, const QByteArray &content)
{
    writeFile(m_New + "/" + key, content);
    ReplaceEntry e;
    e.section = "client";
    e.key = key;
    return e;
}

QString ClientRelease::productIniSection() const
{
    QString ini = "[client]\n";
    QByteArray patch, package;
    QString why;
    artifacts(&patch, &package, &why);
    // The full package of the patched program is listed as well; the patch
    // is chosen because the installed file matches its old hash.
    QByteArray fullPackage = readFile(m_Temp + "/libfoo.so.1._lzma2_");
    ini += "ov3client_linux_amd64._lzma2_ = " + line(fullPackage) +
           "::" + line(readFile("/bin/false")) + "::ov3client_linux_amd64\n";
    ini += "ov3client_linux_amd64._patch_ = " + line(patch) + "::" + line(readFile("/bin/true")) +
           "::ov3client_linux_amd64\n";
    ini += "libfoo.so.1._lzma2_ = " + line(package) + "::" + line(readFile("/bin/echo")) +
           "::lib/libfoo.so.1\n";
    ini += "libbar.so.1.2.gz = " + line(gzipBytes(m_Bar)) + "::" + line(m_Bar) +
           "::lib/libbar.so.1.2\n";
    ini += "data/readme.txt = " + line("new readme\n") + "\n";
    ini += "data/unchanged.txt = " + line("same in both\n") + "\n";
    ini += "newdir/sub/new.txt = " + line("brand new\n") + "\n";
    return ini;
}
