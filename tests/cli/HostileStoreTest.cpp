// The store and its tool against damaged stores, other users' stores and
// hostile registry files. The tool runs as a real process, so a crash or a
// runaway fails the test instead of taking it down.

#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace sylvix {
namespace {

const std::string kTool = SYLVIX_REG_PATH;
using test::readFile;
using test::TempDir;
const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

// Runs the tool on store with args; wrapper (another user, a measurement)
// is a program and its arguments that run the tool in turn.
test::ToolRun Tool(const std::string &store, std::vector<std::string> args,
                   std::vector<std::string> wrapper = {})
{
    args.insert(args.begin(), {"--store", store});
    if (wrapper.empty())
        return test::runTool(kTool, args);
    wrapper.push_back(kTool);
    args.insert(args.begin(), wrapper.begin() + 1, wrapper.end());
    return test::runTool(wrapper.front(), args);
}

// A store of a few dozen pages, written by the tool.
std::string MakeStore(const TempDir &dir, const std::string &name)
{
    std::string reg = kHeader;
    for (int k = 0; k < 200; ++k)
        reg += "[HKEY_LOCAL_MACHINE\\Site\\K" + std::to_string(k) + "]\n\"v\"=\""
               + std::string(100, 'x') + "\"\n";
    dir.write(name + ".reg", reg);
    const std::string store = dir.file(name);
    EXPECT_EQ(Tool(store, {"import", dir.file(name + ".reg")}).status, 0);
    return store;
}

class HostileStore : public ::testing::Test
{
protected:
    TempDir m_dir;
};

TEST_F(HostileStore, FailuresAreReportedNotReadAsEmpty)
{
    const std::string good = MakeStore(m_dir, "good.db");
    const std::string damaged = m_dir.file("damaged.db");
    std::filesystem::copy_file(good, damaged);
    {
        std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(3 * 4096);
        const std::string zeros(4096, '\0');
        f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    }
    const std::string missing = m_dir.file("mistyped.db");
    const struct
    {
        std::string store;
        std::vector<std::string> args;
        int status;
        const char *err;
    } cases[] = {
        {good, {"get", "Site\\K7", "v"}, 0, ""},
        {damaged, {"get", "Site\\K150", "v"}, 2, "the store is damaged"},
        {damaged, {"export"}, 2, "the store is damaged"},
        {damaged, {"list", "Site"}, 2, "the store is damaged"},
        {missing, {"get", "Site", "v"}, 2, "no such file"},
        {missing, {"export"}, 2, "no such file"},
        {missing, {"list", "Site"}, 2, "no such file"},
        {missing, {"delete", "Site"}, 2, "no such file"},
        {m_dir.file(""), {"get", "Site", "v"}, 2, "cannot open configuration store"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.store + " " + c.args.front());
        const test::ToolRun r = Tool(c.store, c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(missing)) << "a reader made a store";

    // Only a writer makes a store, and says so.
    const test::ToolRun made = Tool(missing, {"set", "A", "n", "1"});
    EXPECT_EQ(made.status, 0) << made.err;
    EXPECT_NE(made.err.find("created a new store at " + missing), std::string::npos) << made.err;
    EXPECT_EQ(Tool(missing, {"get", "A", "n"}).out, "1\n");
    EXPECT_EQ(Tool(missing, {"set", "A", "m", "2"}).err, "");
}

TEST_F(HostileStore, AnotherUsersStoreCanBeRead)
{
    const std::string store = MakeStore(m_dir, "theirs.db");
    std::vector<std::string> as; // how the tool runs as somebody who may not write the store
    if (::geteuid() == 0) {
        if (!std::filesystem::exists("/usr/bin/setpriv"))
            GTEST_SKIP() << "setpriv is missing";
        ::chmod(m_dir.file("").c_str(), 0755);
        ::chmod(store.c_str(), 0644);
        as = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    } else {
        ::chmod(store.c_str(), 0444);
        ::chmod(m_dir.file("").c_str(), 0555);
    }
    const test::ToolRun get = Tool(store, {"get", "Site\\K3", "v"}, as);
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(get.out, std::string(100, 'x') + "\n");
    const test::ToolRun exported = Tool(store, {"export", "Site\\K199"}, as);
    EXPECT_EQ(exported.status, 0) << exported.err;
    EXPECT_NE(exported.out.find("[HKEY_LOCAL_MACHINE\\Site\\K199]"), std::string::npos);
    const test::ToolRun set = Tool(store, {"set", "Site", "n", "1"}, as);
    EXPECT_NE(set.status, 0);
    EXPECT_NE(set.err.find("readonly"), std::string::npos) << set.err;
    ::chmod(m_dir.file("").c_str(), 0700);
}

TEST_F(HostileStore, HostileFilesEndInTimeWithAClearError)
{
    std::string continued = kHeader + "[HKLM\\C]\n\"b\"=hex:00,\\\n";
    for (int i = 0; i < 300000; ++i)
        continued += "  01,\\\n";
    continued += "  02\n";
    std::string deep = kHeader + "[HKLM";
    for (int i = 0; i < 40000; ++i)
        deep += "\\a";
    deep += "]\n";
    std::string big = kHeader + "[HKLM\\B]\n";
    while (big.size() <= (size_t{16} << 20))
        big += "\"" + std::to_string(big.size()) + "\"=\"" + std::string(200, 'y') + "\"\n";

    const struct
    {
        const char *title;
        std::string text; // the file's bytes, or empty to read /dev/zero
        int status;
        const char *err;
    } cases[] = {
        {"300000 continuation lines", continued, 0, ""},
        {"a key 40000 levels deep", deep, 1, "keys nest more than 512 deep"},
        {"a value name with a zero byte",
         kHeader + "[HKLM\\N]\n\"a" + std::string(1, '\0') + "b\"=\"1\"\n", 1, "zero byte"},
        {"a value name with a carriage return", kHeader + "[HKLM\\N]\n\"a\rb\"=\"1\"\n", 1,
         "line break"},
        {"a key name with a carriage return", kHeader + "[HKLM\\N\rM]\n", 1, "line break"},
        {"a file over the size cap", big, 1, "larger than 16 MB"},
        {"an endless input", "", 1, "larger than 16 MB"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.title);
        std::string file = "/dev/zero";
        if (!c.text.empty()) {
            file = m_dir.write("hostile.reg", c.text);
        }
        const auto start = std::chrono::steady_clock::now();
        const test::ToolRun r = Tool(m_dir.file("h.db"), {"import", file},
                                     {"/usr/bin/time", "-f", "%M", "-o", m_dir.file("rss")});
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        // Generous bounds, many times what each takes, far below what
        // quadratic work (minutes) or an unbounded read (gigabytes) needs.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
        const std::string rss = readFile(m_dir.file("rss")); // the figure is its last line
        const size_t last = rss.find_last_of('\n', rss.size() >= 2 ? rss.size() - 2 : 0);
        const long kib = std::atol(rss.c_str() + (last == std::string::npos ? 0 : last + 1));
        EXPECT_GT(kib, 0) << rss;
        EXPECT_LT(kib, 512L * 1024);
    }
    EXPECT_EQ(Tool(m_dir.file("h.db"), {"get", "C", "b"}).out.size(),
              std::string("hex:00,").size() + 300000 * 3 + 2 + 1);

    // What export could not write back, set refuses too.
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"set", "N", "a\nb", "1"}, {"set", "N\rM", "a", "1"}}) {
        const test::ToolRun r = Tool(m_dir.file("h.db"), args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("line break"), std::string::npos) << r.err;
    }
}

TEST_F(HostileStore, WhatTheStoreAcceptsExportsAndImportsAgain)
{
    std::string deepest = "Deep";
    for (int i = 1; i < 512; ++i)
        deepest += "\\" + std::to_string(i % 10);
    const std::string store = m_dir.file("a.db");
    const std::vector<std::vector<std::string>> sets = {
        {"set", deepest, "bottom", "1"},
        {"set", "Odd\\a]b \"q\"\\/docs/", "", "default"},
        {"set", "Odd\\=\\;x", "\"quoted\" \\back\\", "c:\\dir\\"},
        {"set", "Odd", "multi", "line one\nline two\r\n"},
        {"set", "Odd", "raw", std::string("\xff\xfe raw bytes")},
        {"set", "Odd", "h\xc3\xa9", "\xe2\x82\xac"},
        {"set", "Odd", "n", "--dword", "4294967295"},
    };
    for (const auto &args : sets) {
        const test::ToolRun r = Tool(store, args);
        EXPECT_EQ(r.status, 0) << args[1] << ": " << r.err;
    }
    const test::ToolRun tooDeep = Tool(store, {"set", deepest + "\\x", "n", "1"});
    EXPECT_EQ(tooDeep.status, 1);
    EXPECT_NE(tooDeep.err.find("nest at most 512"), std::string::npos) << tooDeep.err;

    const test::ToolRun first = Tool(store, {"export", "-o", m_dir.file("first.reg")});
    ASSERT_EQ(first.status, 0) << first.err;
    const test::ToolRun in = Tool(m_dir.file("b.db"), {"import", m_dir.file("first.reg")});
    ASSERT_EQ(in.status, 0) << in.err;
    const test::ToolRun second = Tool(m_dir.file("b.db"), {"export"});
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.out, readFile(m_dir.file("first.reg")));
    EXPECT_EQ(Tool(m_dir.file("b.db"), {"get", "Odd", "multi"}).out, "line one\nline two\r\n\n");
    EXPECT_EQ(Tool(m_dir.file("b.db"), {"get", deepest, "bottom"}).out, "1\n");
}

} // namespace
} // namespace sylvix
