#include "applicationdirlock.h"
#include "updateinidata.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

class UpdateIniDataTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(session.isValid()); }

    QByteArray record(const QByteArray &version, const QString &dir, const QByteArray &type)
    {
        return "[current]\nversion=" + version + "\ndir=" + dir.toUtf8() +
               "\nov3dir=/opt/ov3\ntype=" + type + "\n";
    }

    ApplicationDirLock lock;
    QTemporaryDir session;
};

TEST_F(UpdateIniDataTest, PathIsBesideTheExecutable)
{
    EXPECT_EQ(ApplicationDirLock::updateIniPath(), UpdateIniData::path());
}

TEST_F(UpdateIniDataTest, ValidRecordFillsEveryGivenOutput)
{
    writeFile(UpdateIniData::path(), record("5001", session.path(), "client_linux_amd64"));
    int version = 0;
    QString type, dir, installDir;
    ASSERT_TRUE(UpdateIniData::get(&version, &type, &dir, &installDir));
    EXPECT_EQ(5001, version);
    EXPECT_EQ("client_linux_amd64", type);
    EXPECT_EQ(session.path(), dir);
    EXPECT_EQ("/opt/ov3", installDir);
    EXPECT_TRUE(UpdateIniData::get(nullptr, nullptr, nullptr, nullptr));
}

// Records that do not describe a session that can be continued: get is false
// and leaves its outputs alone.
TEST_F(UpdateIniDataTest, InvalidRecordsReadAsNoSession)
{
    const QString gone = session.path() + "/gone";
    const struct
    {
        const char *name;
        QByteArray content;
    } rows[] = {
        {"directory no longer exists", record("5001", gone, "client_linux_amd64")},
        {"empty type", record("5001", session.path(), "")},
        {"type missing", "[current]\nversion=5001\ndir=" + session.path().toUtf8() + "\n"},
        {"version not a number", record("50x1", session.path(), "client_linux_amd64")},
        {"version missing",
         "[current]\ndir=" + session.path().toUtf8() + "\ntype=client_linux_amd64\n"},
        {"dir empty", record("5001", "", "client_linux_amd64")},
        {"other group only", "[update]\nstreams=3\n"},
        {"binary junk", QByteArray("\x00\xff[current\x00\nversion=\xfe\x01", 18)},
    };
    for (const auto &row : rows) {
        writeFile(UpdateIniData::path(), row.content);
        int version = -1;
        QString type = "t", dir = "d", installDir = "i";
        EXPECT_FALSE(UpdateIniData::get(&version, &type, &dir, &installDir)) << row.name;
        EXPECT_EQ(-1, version) << row.name;
        EXPECT_EQ("t", type) << row.name;
        EXPECT_EQ("d", dir) << row.name;
        EXPECT_EQ("i", installDir) << row.name;
    }

    QFile::remove(UpdateIniData::path());
    EXPECT_FALSE(UpdateIniData::get(nullptr, nullptr, nullptr, nullptr)) << "no file";
    QDir().mkpath(UpdateIniData::path());
    EXPECT_FALSE(UpdateIniData::get(nullptr, nullptr, nullptr, nullptr)) << "a directory";
}

TEST_F(UpdateIniDataTest, ModifyWritesTheRecordAndKeepsOtherGroups)
{
    writeFile(UpdateIniData::path(), "[Channel]\nbeta=true\n\n[update]\nproxy=http://proxy:8080\n"
                                     "streams=3\n\n[current]\nversion=1\nextra=kept\n");
    ASSERT_TRUE(UpdateIniData::modify(5002, session.path(), "/opt/ov3", "update_linux_amd64"));

    QSettings settings(UpdateIniData::path(), QSettings::IniFormat);
    EXPECT_EQ(true, settings.value("Channel/beta").toBool());
    EXPECT_EQ("http://proxy:8080", settings.value("update/proxy").toString());
    EXPECT_EQ(3, settings.value("update/streams").toInt());
    EXPECT_EQ("kept", settings.value("current/extra").toString());

    int version = 0;
    QString type, dir, installDir;
    ASSERT_TRUE(UpdateIniData::get(&version, &type, &dir, &installDir));
    EXPECT_EQ(5002, version);
    EXPECT_EQ("update_linux_amd64", type);
    EXPECT_EQ(session.path(), dir);
    EXPECT_EQ("/opt/ov3", installDir);
}

TEST_F(UpdateIniDataTest, ModifyReportsAFailedWrite)
{
    // A directory in the file's place cannot be written, not even by root.
    QDir().mkpath(UpdateIniData::path());
    EXPECT_FALSE(UpdateIniData::modify(5002, session.path(), "/opt/ov3", "client_linux_amd64"));
}

TEST_F(UpdateIniDataTest, TempIniCopyIsTypedForStepTwo)
{
    ASSERT_TRUE(UpdateIniData::modify(5003, session.path(), "/opt/ov3", "update_linux_amd64"));
    ASSERT_TRUE(UpdateIniData::modifyTempIni(session.path()));

    QSettings copy(session.path() + "/update.ini", QSettings::IniFormat);
    EXPECT_EQ(5003, copy.value("current/version").toInt());
    EXPECT_EQ(session.path(), copy.value("current/dir").toString());
    EXPECT_EQ("/opt/ov3", copy.value("current/ov3dir").toString());
    EXPECT_EQ("client_linux_amd64", copy.value("current/type").toString());
    // The run's own record stays as it was.
    QSettings own(UpdateIniData::path(), QSettings::IniFormat);
    EXPECT_EQ("update_linux_amd64", own.value("current/type").toString());
}

TEST_F(UpdateIniDataTest, TempIniNeedsAValidRecord)
{
    writeFile(UpdateIniData::path(), record("5003", session.path(), ""));
    EXPECT_FALSE(UpdateIniData::modifyTempIni(session.path()));
    EXPECT_FALSE(QFile::exists(session.path() + "/update.ini"));
}

} // namespace
