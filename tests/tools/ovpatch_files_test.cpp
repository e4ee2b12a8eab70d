// End-to-end checks of the ovpatch subcommands that work on diffs and
// packages: round trips on real files, exit codes and failure lines.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct Outcome
{
    int exitCode;
    std::string err;
};

class OvpatchFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_Dir = ::testing::TempDir() + "ovpatch_cli_" + std::to_string(getpid());
        ASSERT_EQ(std::system(("mkdir -p '" + m_Dir + "'").c_str()), 0);
    }
    void TearDown() override { std::system(("rm -rf '" + m_Dir + "'").c_str()); }

    std::string path(const std::string &name) const { return m_Dir + "/" + name; }

    Outcome ovpatch(const std::string &arguments) const
    {
        const std::string errFile = path("stderr");
        const std::string command =
            std::string(OV3_BIN_DIR) + "/ovpatch " + arguments + " 2>'" + errFile + "' >/dev/null";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read(errFile)};
    }

    static std::string read(const std::string &file)
    {
        std::ifstream in(file, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    static void write(const std::string &file, const std::string &bytes)
    {
        std::ofstream out(file, std::ios::binary);
        out << bytes;
    }

    // Two real executables of this build stand in for an old and a new version.
    std::string oldFile() const { return std::string(OV3_BIN_DIR) + "/ovpatch"; }
    std::string newFile() const
    {
        char self[4096];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
        return std::string(self, n > 0 ? static_cast<size_t>(n) : 0);
    }

private:
    std::string m_Dir;
};

TEST_F(OvpatchFiles, DiffAndApplyRoundTripInEveryMethod)
{
    const std::string expected = read(newFile());
    for (const std::string options : {"--method 0", "--method 1", "--method 2", "--header"}) {
        const std::string diff = path("diff");
        const std::string result = path("result");
        ASSERT_EQ(
            ovpatch("diff " + options + " " + oldFile() + " " + newFile() + " " + diff).exitCode, 0)
            << options;
        const std::string header = options == "--header" ? "--header " : "";
        const Outcome applied =
            ovpatch("apply-diff " + header + oldFile() + " " + diff + " " + result);
        ASSERT_EQ(applied.exitCode, 0) << options << applied.err;
        EXPECT_TRUE(read(result) == expected) << options;
    }
}

TEST_F(OvpatchFiles, PackAndUnpackRoundTrip)
{
    const std::string package = path("package._lzma2_");
    const std::string output = path("unpacked");
    ASSERT_EQ(ovpatch("pack --plain " + oldFile() + " " + package).exitCode, 0);
    ASSERT_EQ(ovpatch("unpack " + package + " " + output).exitCode, 0);
    EXPECT_TRUE(read(output) == read(oldFile()));
    EXPECT_EQ(ovpatch("pack " + oldFile() + " " + package).exitCode, 0);
    ASSERT_EQ(ovpatch("unpack " + package + " " + output).exitCode, 0);
    EXPECT_TRUE(read(output) == read(oldFile()));
}

TEST_F(OvpatchFiles, FailuresAndUsageErrors)
{
    const std::string notPackage = path("plain.txt");
    write(notPackage, "just text");
    struct Case
    {
        std::string arguments;
        int exitCode;
        std::string err; // first line of stderr
    };
    const std::vector<Case> cases = {
        {"unpack " + notPackage + " " + path("out"), 1,
         "ovpatch: unpacking " + notPackage + " failed: not lzma file\n"},
        {"apply-diff --header " + notPackage + " " + notPackage + " " + path("out"), 1,
         "ovpatch: applying the diff failed: Corrupt patch header\n"},
        {"diff " + path("missing") + " " + notPackage + " " + path("out"), 1,
         "ovpatch: cannot read " + path("missing") + "\n"},
        {"diff --method 3 a b c", 2, "ovpatch: --method takes 0, 1 or 2\n"},
        {"apply-diff a b", 2, "ovpatch: apply-diff needs OLD DIFF NEW\n"},
        {"unpack a", 2, "ovpatch: unpack needs PACKAGE OUTPUT\n"},
        {"pack", 2, "ovpatch: pack needs INPUT PACKAGE\n"},
    };
    for (const Case &c : cases) {
        const Outcome run = ovpatch(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments;
        EXPECT_EQ(run.err.substr(0, run.err.find('\n') + 1), c.err) << c.arguments;
    }
    // --verbose shows the engine's own log line.
    const Outcome verbose = ovpatch("--verbose unpack " + notPackage + " " + path("out"));
    EXPECT_NE(verbose.err.find("|ERROR   |              |   |not lzma file\n"), std::string::npos)
        << verbose.err;
}

} // namespace
