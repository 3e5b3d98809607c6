// The sylvix-reg tool, run as a real process on real stores.

#include "tests/platform/TempDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace sylvix {
namespace {

const std::string kTool = SYLVIX_BINARY_DIR "/cli/sylvix-reg";

// One run of the tool, and what it should give. out and err are checked when
// set: out whole, err as a part (errors always start with "sylvix-reg: ").
// The tool gets the test's store unless args or env name one.
struct Step
{
    std::vector<std::string> args;
    int code = 0;
    const char *out = nullptr;
    const char *err = nullptr;
    std::string input = "/dev/null"; // file for standard input
    std::string env = {};
};

TEST(SylvixReg, CommandsAndExitCodes)
{
    if (!std::filesystem::exists(kTool))
        GTEST_SKIP() << kTool << " is not built";
    TempDir dir;
    const std::string store = dir.file("registry.db");
    const std::string other = dir.file("other.db");
    const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavrin\\WebServer\\CurrentVersion";
    std::ofstream(dir.file("in.reg"))
        << "Windows Registry Editor Version 5.00\n\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelto\\Sylvix\\CurrentVersion]\n"
           "\"OutBound\"=dword:00000001\n"
           "\"BrowserCommand\"=\"browser \\\"%s\\\"\"\n";
    std::ofstream(dir.file("bad.reg")) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:zz\n";

    const Step steps[] = {
        // Keys by full name, without the root, in any case.
        {{"set", key, "ServerName", "localhost"}},
        {{"set", "SOFTWARE\\Tavrin\\WebServer\\CurrentVersion", "TCP Port", "--dword", "0x1f90"}},
        {{"set", "hklm\\software\\tavrin\\webserver\\currentversion", "RevNumber", "--binary-hex",
          "07 00,00:00"}},
        {{"set", key + "\\DocMap", "/", "c:\\root"}},
        {{"set", key, "--string", "--", "--dash", "-v"}},
        {{"get", key, "tcp port"}, 0, "8080\n"},
        {{"get", key, "ServerName"}, 0, "localhost\n"},
        {{"get", key, "RevNumber"}, 0, "hex:07,00,00,00\n"},
        {{"list", key},
         0,
         "[DocMap]\n\"ServerName\"=\"localhost\"\n\"TCP Port\"=dword:00001f90\n"
         "\"RevNumber\"=hex:07,00,00,00\n\"--dash\"=\"-v\"\n"},
        {{"delete", key, "ServerName"}},
        {{"get", key, "ServerName"}, 1, nullptr, "value not found"},
        {{"delete", "SOFTWARE\\Tavrin"}},
        {{"list", key},
         1,
         nullptr,
         "key not found: HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavrin\\WebServer\\CurrentVersion"},

        {{"import", dir.file("in.reg")}},
        {{"export", "HKLM\\SOFTWARE\\Kelto"},
         0,
         "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelto]\n\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelto\\Sylvix]\n\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelto\\Sylvix\\CurrentVersion]\n"
         "\"OutBound\"=dword:00000001\n\"BrowserCommand\"=\"browser \\\"%s\\\"\"\n\n"},
        // The whole store to a file, into another store through stdin, and back.
        {{"export", "-o", dir.file("all.reg")}},
        {{"--store", other, "import", "-"}, 0, nullptr, nullptr, dir.file("all.reg")},
        {{"--store", other, "export", "-o", dir.file("again.reg")}},
        // Without --store the tool uses $NORVANE_REGISTRY.
        {{"get", "SOFTWARE\\Kelto\\Sylvix\\CurrentVersion", "OutBound"},
         0,
         "1\n",
         nullptr,
         "/dev/null",
         "NORVANE_REGISTRY=" + Quote(other)},

        {{"set", "A", "keep", "1"}},
        {{}, 2, nullptr, "no command given"},
        {{"frobnicate"}, 2, nullptr, "unknown command"},
        {{"get", "Missing", "x"}, 1, nullptr, "key not found: HKEY_LOCAL_MACHINE\\Missing"},
        {{"set", "A", "n", "--dword", "12abc"}, 2, nullptr, "invalid dword"},
        {{"set", "A", "n", "--binary-hex", "123"}, 2, nullptr, "invalid hex data"},
        {{"set", "A", "n", "--dword", "--string", "1"}, 2, nullptr, "at most one"},
        {{"set", "HKEY_CURRENT_USER\\A", "n", "1"}, 2, nullptr, "only HKEY_LOCAL_MACHINE"},
        {{"set", "A\\\\B", "n", "1"}, 2, nullptr, "invalid key path"},
        {{"import", dir.file("bad.reg")}, 1, nullptr, "bad.reg:4: invalid dword"},
        {{"list", "A"}, 0, "\"keep\"=\"1\"\n"}, // the failed import changed nothing
        {{"delete", "HKEY_LOCAL_MACHINE"}, 1, nullptr, "root key"},
        {{"delete", "Missing"}, 1, nullptr, "key not found"},
        {{"export", "Missing"}, 1, nullptr, "key not found"},
        {{"export", "-o"}, 2, nullptr, "-o needs a file name"},
        {{"--store"}, 2, nullptr, "sylvix-reg: "},
        {{"--store", dir.file(""), "list", "A"}, 2, nullptr, "cannot open configuration store"},
    };
    for (const Step &s : steps) {
        std::string cmd = s.env + " " + Quote(kTool);
        if (s.env.empty() && (s.args.empty() || s.args[0] != "--store"))
            cmd += " --store " + Quote(store);
        for (const std::string &a : s.args)
            cmd += " " + Quote(a);
        SCOPED_TRACE(cmd);
        cmd += " <" + Quote(s.input) + " >" + Quote(dir.file("out")) + " 2>"
               + Quote(dir.file("err"));
        const int status = std::system(cmd.c_str());
        const std::string out = ReadAll(dir.file("out")), err = ReadAll(dir.file("err"));
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, s.code) << err;
        if (s.out) {
            EXPECT_EQ(out, s.out);
        }
        if (s.err) {
            EXPECT_EQ(err.rfind("sylvix-reg: ", 0), 0u) << err;
            EXPECT_NE(err.find(s.err), std::string::npos) << err;
        }
    }
    EXPECT_EQ(ReadAll(dir.file("again.reg")), ReadAll(dir.file("all.reg")));
    EXPECT_NE(ReadAll(dir.file("all.reg")).find("\"OutBound\"=dword:00000001"), std::string::npos);
}

} // namespace
} // namespace sylvix
