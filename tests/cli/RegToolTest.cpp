// The sylvix-reg tool, run as a real process on real, damaged, other users'
// and hostile stores and files: a crash or a runaway fails the test instead
// of taking it down.

#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <vector>

namespace sylvix {
namespace {

using namespace test;

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

// The tool on store with args, killed when it outlives its deadline; wrapper
// (another user) is a program and its arguments that run the tool in turn.
ToolRun Reg(const std::string &store, std::vector<std::string> args,
            std::vector<std::string> wrapper = {})
{
    args.insert(args.begin(), {"--store", store});
    wrapper.push_back(SYLVIX_REG_PATH);
    args.insert(args.begin(), wrapper.begin() + 1, wrapper.end());
    return runTool(wrapper.front(), args, {}, {}, 120);
}

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
    std::vector<std::pair<std::string, std::string>> env = {};
};

class RegTool : public ::testing::Test
{
protected:
    // A store of a few dozen pages, written by the tool.
    void SetUp() override
    {
        std::string reg = kHeader;
        for (int k = 0; k < 200; ++k)
            reg += "[HKEY_LOCAL_MACHINE\\Site\\K" + std::to_string(k) + "]\n\"v\"=\""
                   + std::string(100, 'x') + "\"\n";
        ASSERT_EQ(Reg(m_store, {"import", m_dir.write("site.reg", reg)}).status, 0);
    }

    TempDir m_dir;
    const std::string m_store = m_dir / "registry.db";
};

TEST_F(RegTool, CommandsExitCodesAndFailures)
{
    const std::string other = m_dir / "other.db", missing = m_dir / "mistyped.db";
    const std::string damaged = m_dir / "damaged.db";
    std::filesystem::copy_file(m_store, damaged);
    {
        std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(3 * 4096);
        const std::string zeros(4096, '\0');
        f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    }
    const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavrin\\WebServer\\CurrentVersion";
    std::string deepest = "Deep";
    for (int i = 1; i < 512; ++i)
        deepest += "\\" + std::to_string(i % 10);
    m_dir.write("bad.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:zz\n");
    // Hostile files: each ends in time with a clear error, or imports.
    std::string continued = kHeader + "[HKLM\\C]\n\"b\"=hex:00,\\\n";
    for (int i = 0; i < 300000; ++i)
        continued += "  01,\\\n";
    m_dir.write("continued.reg", continued + "  02\n");
    const std::string hostile = m_dir / "hostile.db";

    const Step steps[] = {
        // Keys by full name, without the root, in any case.
        {{"set", key, "ServerName", "localhost"}},
        {{"set", "SOFTWARE\\Tavrin\\WebServer\\CurrentVersion", "TCP Port", "--dword", "0x1f90"}},
        {{"set", "hklm\\software\\tavrin\\webserver\\currentversion", "RevNumber", "--binary-hex",
          "07 00,00:00"}},
        {{"set", key + "\\DocMap", "/", "c:\\root"}},
        {{"set", key, "--string", "--", "--dash", "-v"}},
        {{"get", key, "tcp port"}, 0, "8080\n"},
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

        // The deepest key the store takes goes out and in again, and so does a
        // value with line breaks (the format's other rules: RegFileTest).
        {{"set", deepest, "bottom", "1"}},
        {{"set", deepest + "\\x", "n", "1"}, 1, nullptr, "nest at most 512"},
        {{"set", "Odd", "multi", "line one\nline two\r\n"}},
        // What export could not write back, set refuses.
        {{"set", "Odd", "a\nb", "1"}, 2, nullptr, "line break"},
        // The whole store to a file, into another store through stdin, and back.
        {{"export", "-o", m_dir / "all.reg"}},
        {{"--store", other, "import", "-"}, 0, nullptr, nullptr, m_dir / "all.reg"},
        {{"--store", other, "export", "-o", m_dir / "again.reg"}},
        {{"--store", other, "get", "Odd", "multi"}, 0, "line one\nline two\r\n\n"},
        // Without --store the tool uses $NORVANE_REGISTRY.
        {{"get", deepest, "bottom"}, 0, "1\n", nullptr, "/dev/null", {{"NORVANE_REGISTRY", other}}},

        {{"set", "A", "keep", "1"}},
        {{}, 2, nullptr, "no command given"},
        {{"get", "Missing", "x"}, 1, nullptr, "key not found: HKEY_LOCAL_MACHINE\\Missing"},
        {{"set", "A", "n", "--dword", "12abc"}, 2, nullptr, "invalid dword"},
        {{"set", "A", "n", "--binary-hex", "123"}, 2, nullptr, "invalid hex data"},
        {{"set", "HKEY_CURRENT_USER\\A", "n", "1"}, 2, nullptr, "only HKEY_LOCAL_MACHINE"},
        {{"set", "A\\\\B", "n", "1"}, 2, nullptr, "invalid key path"},
        {{"import", m_dir / "bad.reg"}, 1, nullptr, "bad.reg:4: invalid dword"},
        {{"import", m_dir / "missing.reg"}, 1, nullptr, "cannot read"},
        // The failed import changed nothing; export takes a key.
        {{"export", "A"},
         0,
         "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n\"keep\"=\"1\"\n\n"},
        {{"delete", "HKEY_LOCAL_MACHINE"}, 1, nullptr, "root key"},
        {{"export", "-o"}, 2, nullptr, "-o needs a file name"},

        // A store that cannot be read is a failure, never an empty store.
        {{"--store", damaged, "get", "Site\\K150", "v"}, 2, nullptr, "the store is damaged"},
        {{"--store", damaged, "export"}, 2, nullptr, "the store is damaged"},
        {{"--store", missing, "get", "Site", "v"}, 2, nullptr, "no such file"},
        {{"--store", missing, "delete", "Site"}, 2, nullptr, "no such file"},

        {{"--store", hostile, "import", m_dir / "continued.reg"}},
        {{"--store", hostile, "import", "/dev/zero"}, 1, nullptr, "larger than 16 MB"},
    };
    for (const Step &s : steps) {
        std::vector<std::string> args;
        if (s.env.empty() && (s.args.empty() || s.args[0] != "--store"))
            args = {"--store", m_store};
        args.insert(args.end(), s.args.begin(), s.args.end());
        SCOPED_TRACE(testing::PrintToString(args));
        const auto start = std::chrono::steady_clock::now();
        const ToolRun run = runTool(SYLVIX_REG_PATH, args, s.env, readFile(s.input), 120);
        // For the hostile files the time is the behaviour: a generous bound,
        // far below what quadratic work (minutes) needs.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
        EXPECT_EQ(run.status, s.code) << run.err;
        if (s.out) {
            EXPECT_EQ(run.out, s.out);
        }
        if (s.err) {
            EXPECT_EQ(run.err.rfind("sylvix-reg: ", 0), 0u) << run.err;
            EXPECT_NE(run.err.find(s.err), std::string::npos) << run.err;
        }
    }
    EXPECT_EQ(readFile(m_dir / "again.reg"), readFile(m_dir / "all.reg"));
    EXPECT_FALSE(std::filesystem::exists(missing)) << "a reader made a store";
    EXPECT_EQ(Reg(hostile, {"get", "C", "b"}).out.size(),
              std::string("hex:00,").size() + 300000 * 3 + 2 + 1);
}

TEST_F(RegTool, AnotherUsersStoreCanBeRead)
{
    std::vector<std::string> as; // how the tool runs as somebody who may not write the store
    if (::geteuid() == 0) {
        if (!std::filesystem::exists("/usr/bin/setpriv"))
            GTEST_SKIP() << "setpriv is missing";
        ::chmod(m_dir.path().c_str(), 0755);
        ::chmod(m_store.c_str(), 0644);
        as = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    } else {
        ::chmod(m_store.c_str(), 0444);
        ::chmod(m_dir.path().c_str(), 0555);
    }
    const ToolRun get = Reg(m_store, {"get", "Site\\K3", "v"}, as);
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(get.out, std::string(100, 'x') + "\n");
    const ToolRun set = Reg(m_store, {"set", "Site", "n", "1"}, as);
    EXPECT_NE(set.status, 0);
    EXPECT_NE(set.err.find("readonly"), std::string::npos) << set.err;
    ::chmod(m_dir.path().c_str(), 0700);
}

} // namespace
} // namespace sylvix
