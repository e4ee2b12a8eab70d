#include "updateinidata.h"

#include "configuration.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QSettings>

namespace {

const char *const IniName = "update.ini";

bool writeRecord(QSettings &settings, int version, const QString &tempDir,
                 const QString &installDir, const QString &type)
{
    settings.beginGroup("current");
    settings.setValue("version", version);
    settings.setValue("dir", tempDir);
    settings.setValue("ov3dir", installDir);
    settings.setValue("type", type);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace

QString UpdateIniData::path()
{
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(IniName);
}

bool UpdateIniData::get(int *version, QString *type, QString *tempDir, QString *installDir)
{
    QSettings settings(path(), QSettings::IniFormat);
    settings.beginGroup("current");
    bool versionOk = false;
    const int iniVersion = settings.value("version").toInt(&versionOk);
    const QString iniDir = settings.value("dir").toString();
    const QString iniInstallDir = settings.value("ov3dir").toString();
    const QString iniType = settings.value("type").toString();
    settings.endGroup();

    qDebug() << "get" << path() << iniVersion << iniDir << iniInstallDir << iniType;

    if (!versionOk || iniType.isEmpty() || iniDir.isEmpty() || !QFile::exists(iniDir))
        return false;

    if (version)
        *version = iniVersion;
    if (tempDir)
        *tempDir = iniDir;
    if (installDir)
        *installDir = iniInstallDir;
    if (type)
        *type = iniType;
    return true;
}

bool UpdateIniData::modify(int version, const QString &tempDir, const QString &installDir,
                           const QString &type)
{
    qDebug() << "modify" << path() << version << tempDir << installDir << type;
    QSettings settings(path(), QSettings::IniFormat);
    const bool ok = writeRecord(settings, version, tempDir, installDir, type);
    qDebug() << "UpdateiniData::modify write result" << int(settings.status());
    return ok;
}

bool UpdateIniData::modifyTempIni(const QString &tempDir)
{
    const QString tempIni = tempDir + "/" + IniName;
    qDebug() << "modifyTempIni" << tempIni;

    int version = 0;
    QString type;
    QString dir;
    QString installDir;
    if (!get(&version, &type, &dir, &installDir)) {
        qDebug() << "Failed to read existing update.ini";
        return false;
    }

    // The copy is read by the new updater, which runs step two and therefore
    // updates the client, whatever this run updated.
    QSettings settings(tempIni, QSettings::IniFormat);
    const bool ok =
        writeRecord(settings, version, dir, installDir, Configuration::defaultClientType(1));
    qDebug() << "UpdateiniData::modifyTempIni write result" << int(settings.status());
    return ok;
}
