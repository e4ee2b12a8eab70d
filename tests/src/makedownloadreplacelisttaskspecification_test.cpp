#include "configuration.h"
#include "downloadreplacelists.h"
#include "makedownloadreplacelistfunc.h"
#include "makedownloadreplacelisttaskspecification.h"
#include "plantesthelpers.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

using plantest::sha512Hex;

namespace {

const QByteArray kNew = "the new content of the file";
const QByteArray kOld = "the old content";
const QByteArray kOther = "something the user changed";
const QByteArray kPackage = "package bytes standing in for an lzma2 package";
const QByteArray kPatch = "patch bytes";

QString line(const QString &key, const QStringList &fields)
{
    return key + QStringLiteral(" = ") + fields.join(QStringLiteral("::")) + QLatin1Char('\n');
}

QString fileLine(const QString &key, const QByteArray &data)
{
    return line(key, {sha512Hex(data), QString::number(data.size())});
}

QString packageLine(const QString &key, const QByteArray &package, const QByteArray &unpacked,
                    const QString &target)
{
    return line(key, {sha512Hex(package), QString::number(package.size()), sha512Hex(unpacked),
                      QString::number(unpacked.size()), target});
}

QString patchLine(const QString &key, const QByteArray &patch, const QByteArray &old,
                  const QString &target)
{
    return line(key, {sha512Hex(patch), QString::number(patch.size()), sha512Hex(old),
                      QString::number(old.size()), target});
}

class Compile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Install.isValid());
        ASSERT_TRUE(m_Temp.isValid());
        m_Config.m_UpdateStep = 1;
        m_Config.m_TempDir = m_Temp.path();
        m_Config.m_InstallDir = m_Install.path();
    }

    QString iniPath() const
    {
        return m_Temp.path() + QLatin1Char('/') +
               MakeDownloadReplaceListFunc::iniFileName(m_Config.m_UpdateStep);
    }
    void writeIni(const QString &text)
    {
        ASSERT_TRUE(plantest::writeFile(iniPath(), text.toUtf8()));
    }
    void install(const QString &rel, const QByteArray &data)
    {
        ASSERT_TRUE(plantest::writeFile(m_Install.path() + QLatin1Char('/') + rel, data));
    }
    void cache(const QString &rel, const QByteArray &data)
    {
        ASSERT_TRUE(plantest::writeFile(m_Temp.path() + QLatin1Char('/') + rel, data));
    }

    bool compile()
    {
        MakeDownloadReplaceListFunc func(&m_Config, &m_Lists);
        QObject::connect(&func, &ASyncFunc::message, [this](const QString &m) { m_Messages << m; });
        QObject::connect(&func, &ASyncFunc::progress, [this](qreal p) { m_Progress << p; });
        return func.run();
    }

    bool listsEmpty() const
    {
        return m_Lists.downloadList.isEmpty() && m_Lists.replaceList.isEmpty() &&
               m_Lists.deleteList.isEmpty() && m_Lists.preInstallList.isEmpty() &&
               m_Lists.postInstallList.isEmpty();
    }

    QTemporaryDir m_Install;
    QTemporaryDir m_Temp;
    Configuration m_Config;
    DownloadReplaceLists m_Lists;
    QStringList m_Messages;
    QList<qreal> m_Progress;
};

// One row of the decision table, for a package line with a patch line for the
// same installed file, or for a plain file line.
struct DecisionCase
{
    const char *name;
    bool packed;
    const char *installed;  // content of the installed file, or null when missing
    const char *cachedName; // a file already in the temporary directory, or null
    const char *cachedData;
    bool expectReplace;
    const char *expectDownload; // name of the one expected download, or null
    const char *expectPatchName;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const DecisionCase &c, std::ostream *os)
{
    *os << c.name;
}

class Decision : public Compile, public ::testing::WithParamInterface<DecisionCase>
{
};

TEST_P(Decision, FollowsTheDecisionTable)
{
    const DecisionCase &c = GetParam();
    const QString target = QStringLiteral("bin/app.bin");
    if (c.packed) {
        writeIni(QStringLiteral("[client]\n") +
                 packageLine(QStringLiteral("app.pkg._lzma2_"), kPackage, kNew, target) +
                 patchLine(QStringLiteral("app.bin_patch_"), kPatch, kOld, target));
    } else {
        writeIni(QStringLiteral("[client]\n") + fileLine(target, kNew));
    }
    if (c.installed)
        install(target, c.installed);
    if (c.cachedName)
        cache(QString::fromLatin1(c.cachedName), c.cachedData);

    ASSERT_TRUE(compile());

    if (!c.expectReplace) {
        EXPECT_TRUE(m_Lists.replaceList.isEmpty());
        EXPECT_TRUE(m_Lists.downloadList.isEmpty());
        return;
    }
    ASSERT_EQ(m_Lists.replaceList.size(), 1);
    const ReplaceEntry &re = m_Lists.replaceList[0];
    EXPECT_EQ(re.section, QStringLiteral("client"));
    EXPECT_EQ(re.patchName, QString::fromLatin1(c.expectPatchName));
    if (c.packed) {
        EXPECT_EQ(re.key, QStringLiteral("app.pkg._lzma2_"));
        EXPECT_EQ(re.targetName, target);
        EXPECT_EQ(re.sha512, sha512Hex(kNew));
        EXPECT_EQ(re.size, quint64(kNew.size()));
    } else {
        EXPECT_EQ(re.key, target);
        EXPECT_TRUE(re.targetName.isEmpty());
        EXPECT_TRUE(re.sha512.isEmpty());
        EXPECT_EQ(re.size, 0u);
    }

    if (!c.expectDownload) {
        EXPECT_TRUE(m_Lists.downloadList.isEmpty());
        return;
    }
    ASSERT_EQ(m_Lists.downloadList.size(), 1);
    const DownloadEntry &dl = m_Lists.downloadList[0];
    EXPECT_EQ(dl.section, QStringLiteral("client"));
    EXPECT_EQ(dl.name, QString::fromLatin1(c.expectDownload));
    const QByteArray expected =
        dl.name.endsWith(QLatin1String("_patch_")) ? kPatch : (c.packed ? kPackage : kNew);
    EXPECT_EQ(dl.sha512, sha512Hex(expected));
    EXPECT_EQ(dl.size, quint64(expected.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Decision,
    ::testing::Values(
        DecisionCase{"MissingDownloadsPackage", true, nullptr, nullptr, nullptr, true,
                     "app.pkg._lzma2_", ""},
        DecisionCase{"OldHashChoosesPatch", true, kOld.constData(), nullptr, nullptr, true,
                     "app.bin_patch_", "app.bin_patch_"},
        DecisionCase{"DifferingDownloadsPackage", true, kOther.constData(), nullptr, nullptr, true,
                     "app.pkg._lzma2_", ""},
        DecisionCase{"CurrentIsKept", true, kNew.constData(), nullptr, nullptr, false, nullptr, ""},
        DecisionCase{"CachedPackageIsReused", true, nullptr, "app.pkg._lzma2_",
                     kPackage.constData(), true, nullptr, ""},
        DecisionCase{"CorruptCachedPackageIsFetchedAgain", true, nullptr, "app.pkg._lzma2_",
                     "truncated", true, "app.pkg._lzma2_", ""},
        DecisionCase{"CachedPatchIsReused", true, kOld.constData(), "app.bin_patch_",
                     kPatch.constData(), true, nullptr, "app.bin_patch_"},
        DecisionCase{"PlainMissing", false, nullptr, nullptr, nullptr, true, "bin/app.bin", ""},
        DecisionCase{"PlainDiffering", false, kOld.constData(), nullptr, nullptr, true,
                     "bin/app.bin", ""},
        DecisionCase{"PlainCurrent", false, kNew.constData(), nullptr, nullptr, false, nullptr, ""},
        DecisionCase{"PlainCached", false, nullptr, "bin/app.bin", kNew.constData(), true, nullptr,
                     ""}),
    [](const ::testing::TestParamInfo<DecisionCase> &info) {
        return std::string(info.param.name);
    });

TEST_F(Compile, SelfUpdateCopiesCurrentFilesIntoTheSession)
{
    m_Config.m_UpdateStep = 0;
    writeIni(
        QStringLiteral("[updater]\n") +
        packageLine(QStringLiteral("a.bin._lzma2_"), kPackage, kNew, QStringLiteral("dir/a.bin")) +
        fileLine(QStringLiteral("b.txt"), kOld));
    install(QStringLiteral("dir/a.bin"), kNew);
    install(QStringLiteral("b.txt"), kOld);

    ASSERT_TRUE(compile());
    EXPECT_TRUE(listsEmpty());
    EXPECT_EQ(plantest::readFile(m_Temp.path() + QStringLiteral("/dir/a.bin")), kNew);
    EXPECT_EQ(plantest::readFile(m_Temp.path() + QStringLiteral("/b.txt")), kOld);
    EXPECT_EQ(m_Messages.value(0),
              QStringLiteral("Compiling download and replace list for updater"));
}

TEST_F(Compile, NewestMatchingPatchWinsAndPatchesStayInTheirSection)
{
    const QString target = QStringLiteral("app.bin");
    const QString other = QStringLiteral("other.bin");
    // The reader returns the keys sorted, so of the two patches that apply,
    // "b_patch_" is the newer line and wins; "c_patch_" is tried first but does
    // not match. The patch for other.bin sits in another section and must not
    // be used for the file of section "b_sec".
    writeIni(QStringLiteral("[a_sec]\n") + patchLine(QStringLiteral("z_patch_"), "z", kOld, other) +
             QStringLiteral("[b_sec]\n") +
             packageLine(QStringLiteral("app._lzma2_"), kPackage, kNew, target) +
             packageLine(QStringLiteral("other._lzma2_"), kPackage, kNew, other) +
             patchLine(QStringLiteral("a_patch_"), "a", kOld, target) +
             patchLine(QStringLiteral("b_patch_"), "b", kOld, target) +
             patchLine(QStringLiteral("c_patch_"), "c", kOther, target));
    install(target, kOld);
    install(other, kOld);
    ASSERT_TRUE(compile());
    ASSERT_EQ(m_Lists.replaceList.size(), 2);
    EXPECT_EQ(m_Lists.replaceList[0].patchName, QStringLiteral("b_patch_"));
    EXPECT_EQ(m_Lists.replaceList[1].patchName, QString());
    ASSERT_EQ(m_Lists.downloadList.size(), 2);
    EXPECT_EQ(m_Lists.downloadList[0].name, QStringLiteral("b_patch_"));
    EXPECT_EQ(m_Lists.downloadList[0].sha512, sha512Hex("b"));
    EXPECT_EQ(m_Lists.downloadList[1].name, QStringLiteral("other._lzma2_"));
}

TEST_F(Compile, HashesCompareIgnoringCase)
{
    writeIni(
        QStringLiteral("[client]\n") +
        line(QStringLiteral("a.bin"), {sha512Hex(kNew).toUpper(), QString::number(kNew.size())}));
    install(QStringLiteral("a.bin"), kNew);
    ASSERT_TRUE(compile());
    EXPECT_TRUE(listsEmpty());
}

TEST_F(Compile, MalformedFileLinesAreSkippedAndSizesReadAsNumbers)
{
    writeIni(QStringLiteral("[client]\n"
                            "a.bin = 11::22::33\n"
                            "b.bin = onlyonefield\n"
                            "c.bin = ") +
             sha512Hex(kNew) + QStringLiteral("::not-a-number\n"));
    ASSERT_TRUE(compile());
    EXPECT_EQ(m_Messages.count(
                  QStringLiteral("Warning: product ini contains invalid line in section client")),
              2);
    ASSERT_EQ(m_Lists.downloadList.size(), 1);
    EXPECT_EQ(m_Lists.downloadList[0].name, QStringLiteral("c.bin"));
    EXPECT_EQ(m_Lists.downloadList[0].size, 0u);
}

TEST_F(Compile, MalformedPatchLineFailsTheCompilation)
{
    writeIni(QStringLiteral("[client]\n") + fileLine(QStringLiteral("a.bin"), kNew) +
             QStringLiteral("a_patch_ = 1::2::3::4\n"));
    EXPECT_FALSE(compile());
    EXPECT_TRUE(m_Messages.contains(
        QStringLiteral("Warning: product ini contains invalid line in section client")));
}

TEST_F(Compile, ProductIniWithoutEntriesFails)
{
    const QStringList inis = {QString(), QStringLiteral(""), QStringLiteral("a.bin = 1::2\n"),
                              QStringLiteral("[empty]\n")};
    for (int i = 0; i < inis.size(); ++i) {
        SCOPED_TRACE(i);
        QFile::remove(iniPath());
        if (i > 0)
            writeIni(inis[i]);
        m_Messages.clear();
        EXPECT_FALSE(compile());
        EXPECT_TRUE(m_Messages.contains(QStringLiteral("No files in product ini")));
    }
}

TEST_F(Compile, DeleteLines)
{
    QDir(m_Install.path()).mkpath(QStringLiteral("olddir/sub"));
    for (const char *f : {"two", "eleven", "twelve", "word", "nine"})
        install(QString::fromLatin1(f), "x");
    writeIni(QStringLiteral("[delete]\n"
                            "olddir = 2\n"
                            "two = 2\n"
                            "eleven = 11\n"
                            "twelve = 12\n"
                            "word = remove\n"
                            "nine = 9\n"
                            "missing = 2\n"));
    ASSERT_TRUE(compile());
    QStringList got;
    for (const DeleteEntry &e : m_Lists.deleteList)
        got << e.path + (e.recursive ? QStringLiteral(":r") : QString());
    EXPECT_EQ(got, QStringList({QStringLiteral("nine"), QStringLiteral("olddir:r"),
                                QStringLiteral("twelve"), QStringLiteral("two:r"),
                                QStringLiteral("word")}));
}

TEST_F(Compile, CommandLines)
{
    writeIni(QStringLiteral("[postinstall]\n"
                            "post.sh = linux32::linux64, a::__OV3_DIR__/x, optional\n"
                            "twice.sh = LINUX64::linux64\n"
                            "windows.exe = win32::win64::mac, a\n"
                            "[preinstall]\n"
                            "pre.sh = linux64, --keep::b=1, Optional\n"));
    ASSERT_TRUE(compile());
    ASSERT_EQ(m_Lists.postInstallList.size(), 3);
    const CommandEntry &post = m_Lists.postInstallList[0];
    EXPECT_EQ(post.command, QStringLiteral("post.sh"));
    EXPECT_EQ(post.args,
              QStringList({QStringLiteral("a"), m_Install.path() + QStringLiteral("/x")}));
    EXPECT_FALSE(post.required);
    EXPECT_EQ(m_Lists.postInstallList[1].command, QStringLiteral("twice.sh"));
    EXPECT_EQ(m_Lists.postInstallList[2].command, QStringLiteral("twice.sh"));
    EXPECT_TRUE(m_Lists.postInstallList[1].args.isEmpty());
    ASSERT_EQ(m_Lists.preInstallList.size(), 1);
    // "optional" is matched exactly; any other spelling keeps the command required.
    EXPECT_TRUE(m_Lists.preInstallList[0].required);
    EXPECT_EQ(m_Lists.preInstallList[0].args,
              QStringList({QStringLiteral("--keep"), QStringLiteral("b=1")}));
    EXPECT_TRUE(m_Progress.isEmpty());
}

TEST_F(Compile, ProgressCountsFileAndDeleteLinesAgainstEveryLine)
{
    install(QStringLiteral("gone"), "x");
    writeIni(QStringLiteral("[client]\n") + fileLine(QStringLiteral("a.bin"), kNew) +
             fileLine(QStringLiteral("b.bin"), kNew) +
             patchLine(QStringLiteral("a_patch_"), kPatch, kOld, QStringLiteral("a.bin")) +
             QStringLiteral("[delete]\ngone = 0\n[patchesonly]\n") +
             patchLine(QStringLiteral("p_patch_"), kPatch, kOld, QStringLiteral("p.bin")) +
             QStringLiteral("[postinstall]\nrun.sh = linux64\n"));
    ASSERT_TRUE(compile());
    // Six lines in all; the two file lines and the delete line are counted.
    EXPECT_EQ(m_Progress, QList<qreal>({1.0 / 6, 2.0 / 6, 3.0 / 6}));
    EXPECT_EQ(m_Lists.downloadList.size(), 2);
    EXPECT_EQ(m_Lists.deleteList.size(), 1);
}

// A product ini that names a path outside the installation or the session
// directory is refused before anything is read from or written to either.
struct HostileCase
{
    const char *name;
    const char *ini;
    const char *offending;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const HostileCase &c, std::ostream *os)
{
    *os << c.name;
}

class HostilePath : public Compile, public ::testing::WithParamInterface<HostileCase>
{
};

TEST_P(HostilePath, IsRefusedBeforeAnythingIsTouched)
{
    m_Config.m_UpdateStep = 0;
    // A current file that a self-update would copy into the session directory.
    install(QStringLiteral("keep.bin"), kNew);
    QDir(m_Install.path()).mkpath(QStringLiteral("inside"));
    writeIni(QStringLiteral("[aaa]\n") + fileLine(QStringLiteral("keep.bin"), kNew) +
             QString::fromLatin1(GetParam().ini));

    EXPECT_FALSE(compile());
    EXPECT_TRUE(listsEmpty());
    EXPECT_FALSE(QFile::exists(m_Temp.path() + QStringLiteral("/keep.bin")));
    const QString last = m_Messages.value(m_Messages.size() - 1);
    EXPECT_TRUE(last.contains(QString::fromLatin1(GetParam().offending))) << last.toStdString();
    EXPECT_TRUE(last.contains(QStringLiteral("Aborting"))) << last.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostilePath,
    ::testing::Values(
        HostileCase{"FileKeyClimbsOut", "[zzz]\n..\\..\\etc\\x = 00::1\n", "../../etc/x"},
        HostileCase{"FileKeyClimbsOutHalfway", "[zzz]\nbin/../../x = 00::1\n", "bin/../../x"},
        HostileCase{"TargetClimbsOut", "[zzz]\npkg = 00::1::00::1::../x\n", "../x"},
        HostileCase{"TargetAbsolute", "[zzz]\npkg = 00::1::00::1::/tmp/x\n", "/tmp/x"},
        HostileCase{"PatchTargetClimbsOut", "[zzz]\nx_patch_ = 00::1::00::1::a/../../x\n",
                    "a/../../x"},
        HostileCase{"DeleteClimbsOut", "[delete]\n../sibling = 2\n", "../sibling"},
        HostileCase{"DeleteTheInstallationItself", "[delete]\ninside/.. = 2\n", "inside/.."},
        HostileCase{"CommandClimbsOut", "[preinstall]\n../../bin/sh = linux64\n", "../../bin/sh"}),
    [](const ::testing::TestParamInfo<HostileCase> &info) { return std::string(info.param.name); });

TEST_F(Compile, TaskPublishesTheListsOnlyAfterSuccess)
{
    writeIni(QStringLiteral("[client]\n") + fileLine(QStringLiteral("a.bin"), kNew));
    DownloadReplaceLists out;
    MakeDownloadReplaceListTaskSpecification task(&m_Config, &out, nullptr, 0.05);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    task.execute();
    ASSERT_TRUE(finished.wait(10000));
    ASSERT_EQ(out.downloadList.size(), 1);
    EXPECT_EQ(out.replaceList.size(), 1);

    // A failing compilation leaves the given lists as they were.
    writeIni(QStringLiteral("[client]\n") + fileLine(QStringLiteral("b.bin"), kNew) +
             QStringLiteral("[zzz]\n/abs = 00::1\n"));
    MakeDownloadReplaceListTaskSpecification failing(&m_Config, &out, nullptr, 0.05);
    QSignalSpy canceled(&failing, &TaskSpecification::canceled);
    failing.execute();
    ASSERT_TRUE(canceled.wait(10000));
    EXPECT_EQ(failing.m_TaskState, TaskSpecification::FAILED);
    ASSERT_EQ(out.downloadList.size(), 1);
    EXPECT_EQ(out.downloadList[0].name, QStringLiteral("a.bin"));
}

TEST(IniFileName, FollowsTheUpdateStep)
{
    EXPECT_EQ(MakeDownloadReplaceListFunc::iniFileName(1),
              QStringLiteral("ov3_client_linux_amd64.ini"));
    EXPECT_EQ(MakeDownloadReplaceListFunc::iniFileName(0),
              QStringLiteral("update_linux_amd64.ini"));
}

TEST(ReplaceEntry, PrefixedTargetPath)
{
    struct Row
    {
        const char *key, *target, *prefix, *expected;
    } rows[] = {
        {"a.bin", "", "", "a.bin"},
        {"a.bin", "", "_old_", "_old_a.bin"},
        {"pkg._lzma2_", "dir/sub/a.bin", "", "dir/sub/a.bin"},
        {"pkg._lzma2_", "dir/sub/a.bin", "_new_", "dir/sub/_new_a.bin"},
        {"dir/b", "", "x", "dir/xb"},
    };
    for (const Row &r : rows) {
        ReplaceEntry e;
        e.key = QString::fromLatin1(r.key);
        e.targetName = QString::fromLatin1(r.target);
        EXPECT_EQ(e.prefixedTargetPath(QString::fromLatin1(r.prefix)),
                  QString::fromLatin1(r.expected))
            << r.key << " " << r.target << " " << r.prefix;
    }
}

} // namespace
