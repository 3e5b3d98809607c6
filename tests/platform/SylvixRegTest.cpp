// The sylvix-reg tool, run as a real process on real stores.

#include "platform/ConfigStore.h"

#include "tests/platform/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>

extern char **environ;

namespace sylvix {
namespace {

namespace fs = std::filesystem;

const std::string kTool = SYLVIX_BINARY_DIR "/cli/sylvix-reg";

std::string ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct Result
{
    int code = -1;
    std::string out;
    std::string err;
};

class SylvixRegTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!fs::exists(kTool))
            GTEST_SKIP() << kTool << " is not built";
    }

    // Runs the tool with --store pointing at this test's store, unless
    // withStore is false; stdinText is fed to its standard input.
    Result run(std::vector<std::string> args, bool withStore = true,
               const std::string &stdinText = {}, const std::vector<std::string> &extraEnv = {})
    {
        if (withStore)
            args.insert(args.begin(), {"--store", store});
        args.insert(args.begin(), kTool);
        std::ofstream(dir.file("stdin")) << stdinText;

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, dir.file("stdin").c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, dir.file("stdout").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, dir.file("stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);

        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> envText(extraEnv);
        for (char **e = environ; *e; ++e)
            envText.emplace_back(*e);
        std::vector<char *> envp;
        for (std::string &e : envText)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        Result result;
        pid_t pid = 0;
        int status = 0;
        if (posix_spawn(&pid, kTool.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0
            && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            result.code = WEXITSTATUS(status);
        posix_spawn_file_actions_destroy(&actions);
        result.out = ReadAll(dir.file("stdout"));
        result.err = ReadAll(dir.file("stderr"));
        return result;
    }

    TempDir dir;
    std::string store = dir.file("registry.db");
};

TEST_F(SylvixRegTest, SetGetListDelete)
{
    const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavrin\\WebServer\\CurrentVersion";
    EXPECT_EQ(run({"set", key, "ServerName", "localhost"}).code, 0);
    EXPECT_EQ(
        run({"set", "SOFTWARE\\Tavrin\\WebServer\\CurrentVersion", "TCP Port", "--dword", "0x1f90"})
            .code,
        0);
    EXPECT_EQ(run({"set", "hklm\\software\\tavrin\\webserver\\currentversion", "RevNumber",
                   "--binary-hex", "07 00,00:00"})
                  .code,
              0);
    EXPECT_EQ(run({"set", key + "\\DocMap", "/", "c:\\root"}).code, 0);
    EXPECT_EQ(run({"set", key, "--string", "--", "--dash", "-v"}).code, 0);

    Result r = run({"get", key, "tcp port"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "8080\n");
    EXPECT_EQ(run({"get", key, "ServerName"}).out, "localhost\n");
    EXPECT_EQ(run({"get", key, "RevNumber"}).out, "hex:07,00,00,00\n");

    r = run({"list", key});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "[DocMap]\n"
                     "\"ServerName\"=\"localhost\"\n"
                     "\"TCP Port\"=dword:00001f90\n"
                     "\"RevNumber\"=hex:07,00,00,00\n"
                     "\"--dash\"=\"-v\"\n");

    EXPECT_EQ(run({"delete", key, "ServerName"}).code, 0);
    EXPECT_EQ(run({"get", key, "ServerName"}).code, 1);
    EXPECT_EQ(run({"delete", "SOFTWARE\\Tavrin"}).code, 0);
    r = run({"list", key});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(
                  "key not found: HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavrin\\WebServer\\CurrentVersion"),
              std::string::npos)
        << r.err;
}

TEST_F(SylvixRegTest, ExportAndImportFiles)
{
    const std::string reg = "Windows Registry Editor Version 5.00\n\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelto\\Sylvix\\CurrentVersion]\n"
                            "\"OutBound\"=dword:00000001\n"
                            "\"BrowserCommand\"=\"browser \\\"%s\\\"\"\n";
    std::ofstream(dir.file("in.reg")) << reg;
    ASSERT_EQ(run({"import", dir.file("in.reg")}).code, 0);

    Result r = run({"export", "HKLM\\SOFTWARE\\Kelto"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "Windows Registry Editor Version 5.00\n\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelto]\n\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelto\\Sylvix]\n\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelto\\Sylvix\\CurrentVersion]\n"
                     "\"OutBound\"=dword:00000001\n"
                     "\"BrowserCommand\"=\"browser \\\"%s\\\"\"\n\n");

    // Whole store to a file, read back into another store through stdin.
    ASSERT_EQ(run({"export", "-o", dir.file("all.reg")}).code, 0);
    const std::string other = dir.file("other.db");
    ASSERT_EQ(run({"--store", other, "import", "-"}, false, ReadAll(dir.file("all.reg"))).code, 0);
    EXPECT_EQ(run({"--store", other, "export"}, false).out, ReadAll(dir.file("all.reg")));

    // Without --store the tool uses $NORVANE_REGISTRY.
    r = run({"get", "SOFTWARE\\Kelto\\Sylvix\\CurrentVersion", "OutBound"}, false, {},
            {"NORVANE_REGISTRY=" + other});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "1\n");
}

TEST_F(SylvixRegTest, ErrorsAndExitCodes)
{
    std::ofstream(dir.file("bad.reg")) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:zz\n";
    ASSERT_EQ(run({"set", "A", "keep", "1"}).code, 0);

    struct Case
    {
        std::vector<std::string> args;
        int code;
        const char *message;
    };
    const Case cases[] = {
        {{}, 2, "no command given"},
        {{"frobnicate"}, 2, "unknown command"},
        {{"get", "Missing", "x"}, 1, "key not found: HKEY_LOCAL_MACHINE\\Missing"},
        {{"get", "A", "missing"}, 1, "value not found"},
        {{"set", "A", "n", "--dword", "12abc"}, 2, "invalid dword"},
        {{"set", "A", "n", "--binary-hex", "123"}, 2, "invalid hex data"},
        {{"set", "A", "n", "--dword", "--string", "1"}, 2, "at most one"},
        {{"set", "HKEY_CURRENT_USER\\A", "n", "1"}, 2, "only HKEY_LOCAL_MACHINE"},
        {{"set", "A\\\\B", "n", "1"}, 2, "invalid key path"},
        {{"import", dir.file("bad.reg")}, 1, "bad.reg:4: invalid dword"},
        {{"delete", "HKEY_LOCAL_MACHINE"}, 1, "root key"},
        {{"delete", "Missing"}, 1, "key not found"},
        {{"export", "Missing"}, 1, "key not found"},
        {{"export", "-o"}, 2, "-o needs a file name"},
    };
    for (const Case &c : cases) {
        Result r = run(c.args);
        std::string shown;
        for (const std::string &a : c.args)
            shown += a + " ";
        EXPECT_EQ(r.code, c.code) << shown << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << shown << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("sylvix-reg: ", 0), 0u) << r.err;
    }
    Result r = run({"--store"}, false);
    EXPECT_EQ(r.code, 2);
    r = run({"--store", dir.file(""), "list", "A"}, false);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot open configuration store"), std::string::npos) << r.err;

    // The failed import left the store as it was.
    EXPECT_EQ(run({"list", "A"}).out, "\"keep\"=\"1\"\n");
}

} // namespace
} // namespace sylvix
