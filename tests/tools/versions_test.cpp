#include "loopbackhttpserver.h"
#include "updatechecker.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString Publish = QString(OV3_BIN_DIR) + "/ov3-publish";
const QString SchemaDir = QString(OV3_SOURCE_DIR) + "/deps/orvane_updateserver_client/src/lib";

struct ProcessResult
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ProcessResult run(const QString &program, const QStringList &args,
                  const QByteArray &input = QByteArray())
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted(10000))
        return ProcessResult();
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(30000);
    ProcessResult result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

ProcessResult protoc(const QString &mode, const QByteArray &input)
{
    return run("protoc",
               {mode + "=com.orvane.update.Versions", "-I", SchemaDir, "UpdateMessage.proto"},
               input);
}

class PublishVersions : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QByteArray readFile(const QString &name)
    {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeFile(const QString &name, const QByteArray &content)
    {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QTemporaryDir dir;
};

TEST_F(PublishVersions, EncodedAnswerDecodesWithProtoc)
{
    const ProcessResult encoded =
        run(Publish, {"versions", "encode", dir.filePath("answer"), "--license", "7", "--channel",
                      "stable:5001:3.1.4", "beta:5010:3.1.5-beta", "--channel",
                      "alpha:6000:3.2.0 alpha:rc1"});
    ASSERT_EQ(0, encoded.exitCode) << encoded.err.constData();
    EXPECT_TRUE(encoded.err.isEmpty());

    const ProcessResult decoded = protoc("--decode", readFile("answer"));
    ASSERT_EQ(0, decoded.exitCode) << decoded.err.constData();
    EXPECT_EQ("licenseAgreementId: 7\n"
              "channels {\n  name: \"stable\"\n  version_number: 5001\n"
              "  version_string: \"3.1.4\"\n}\n"
              "channels {\n  name: \"beta\"\n  version_number: 5010\n"
              "  version_string: \"3.1.5-beta\"\n}\n"
              "channels {\n  name: \"alpha\"\n  version_number: 6000\n"
              "  version_string: \"3.2.0 alpha:rc1\"\n}\n",
              QString::fromUtf8(decoded.out));
}

// A message from an independent encoder, with a duplicate channel and a
// negative number, read back by the tool and by the updater's query path.
TEST_F(PublishVersions, ProtocAnswerDecodesWithToolAndQuery)
{
    const ProcessResult encoded =
        protoc("--encode", "licenseAgreementId: 12\n"
                           "channels { name: \"stable\" version_number: 5001 "
                           "version_string: \"3.1.4\" }\n"
                           "channels { name: \"beta\" version_number: -5 "
                           "version_string: \"b\" }\n"
                           "channels { name: \"stable\" version_number: 4000 "
                           "version_string: \"old\" }\n");
    ASSERT_EQ(0, encoded.exitCode) << encoded.err.constData();
    writeFile("answer", encoded.out);

    const ProcessResult decoded = run(Publish, {"versions", "decode", dir.filePath("answer")});
    ASSERT_EQ(0, decoded.exitCode) << decoded.err.constData();
    EXPECT_EQ("license 12\nstable:5001:3.1.4\nbeta:-5:b\nstable:4000:old\n",
              QString::fromUtf8(decoded.out));

    registerUpdateVersionsMetaType();
    LoopbackHttpServer server;
    ASSERT_TRUE(server.start());
    server.serveFile("/ov3-client-2", dir.filePath("answer"));
    qputenv("OV3_VERSION_SERVER_URL", server.url("/ov3-client-2").toEncoded());
    QObject owner;
    UpdateChecker *checker = new UpdateChecker(&owner);
    QSignalSpy answered(checker, SIGNAL(update_available(UpdateVersions)));
    checker->checkForUpdate();
    ASSERT_TRUE(answered.wait(10000));
    qunsetenv("OV3_VERSION_SERVER_URL");
    const UpdateVersions expected{{"stable", {"5001", "3.1.4"}}, {"beta", {"-5", "b"}}};
    EXPECT_EQ(expected, answered.at(0).at(0).value<UpdateVersions>());
}

// Every refusal: the exit code, and for failures exactly one line on stderr.
TEST_F(PublishVersions, RefusesBadInput)
{
    writeFile("empty", "");
    writeFile("truncated", protoc("--encode", "licenseAgreementId: 3\nchannels { name: \"stable\" "
                                              "version_number: 5001 version_string: \"3.1.4\" }\n")
                               .out.chopped(2));
    writeFile("nolicense", protoc("--encode", "channels { name: \"stable\" version_number: 1 "
                                              "version_string: \"x\" }\n")
                               .out);
    const QString out = dir.filePath("out");
    const struct
    {
        const char *name;
        QStringList args;
        int exitCode;
    } rows[] = {
        {"no subcommand", {"versions"}, 2},
        {"unknown subcommand", {"versions", "list"}, 2},
        {"no output", {"versions", "encode", "--license", "1"}, 2},
        {"no licence", {"versions", "encode", out, "--channel", "stable:1:x"}, 2},
        {"licence not a number", {"versions", "encode", out, "--license", "x1"}, 2},
        {"channel without string",
         {"versions", "encode", out, "--license", "1", "--channel", "stable:1"},
         2},
        {"channel without name",
         {"versions", "encode", out, "--license", "1", "--channel", ":1:x"},
         2},
        {"version not a number",
         {"versions", "encode", out, "--license", "1", "--channel", "stable:abc:x"},
         2},
        {"negative version",
         {"versions", "encode", out, "--license", "1", "--channel", "stable:-5:x"},
         2},
        {"version too large",
         {"versions", "encode", out, "--license", "1", "--channel", "stable:4294967296:x"},
         2},
        {"duplicate channel",
         {"versions", "encode", out, "--license", "1", "--channel", "stable:1:x", "stable:2:y"},
         2},
        {"empty --channel", {"versions", "encode", out, "--license", "1", "--channel"}, 2},
        {"stray argument", {"versions", "encode", out, "--license", "1", "extra"}, 2},
        {"decode without file", {"versions", "decode"}, 2},
        {"unwritable output",
         {"versions", "encode", dir.filePath("no/such/dir/out"), "--license", "1"},
         1},
        {"missing file", {"versions", "decode", dir.filePath("missing")}, 1},
        {"empty file", {"versions", "decode", dir.filePath("empty")}, 1},
        {"truncated file", {"versions", "decode", dir.filePath("truncated")}, 1},
        {"required field missing", {"versions", "decode", dir.filePath("nolicense")}, 1},
    };
    for (const auto &row : rows) {
        const ProcessResult result = run(Publish, row.args);
        EXPECT_EQ(row.exitCode, result.exitCode) << row.name << ": " << result.err.constData();
        EXPECT_TRUE(result.out.isEmpty()) << row.name;
        if (row.exitCode == 1)
            EXPECT_EQ(1, result.err.count('\n')) << row.name << ": " << result.err.constData();
        else
            EXPECT_FALSE(result.err.isEmpty()) << row.name;
    }
    EXPECT_FALSE(QFile::exists(out)) << "a refused encode wrote its output";
}

} // namespace
