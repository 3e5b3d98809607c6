#include "platform/Process.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <tuple>

#include <sys/stat.h>
#include <unistd.h>

using namespace sylvix;
using namespace sylvix::test;

namespace {

std::string script(const TempDir &dir, const std::string &name, const std::string &body)
{
    const std::string path = dir.write(name, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0755);
    return path;
}

bool gone(pid_t pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

} // namespace

TEST(Process, RunsInItsFolderWithArgumentsAsBytesOrSaysWhyNotAndIsFoundAlongPath)
{
    TempDir dir;
    const std::string out = dir / "out";
    const std::string prog
        = script(dir, "record.sh",
                 "{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > " + out + "\n");
    std::filesystem::create_directories(dir / "work place");
    const std::string before = std::filesystem::current_path();
    // A blank, a quote and bytes that are no UTF-8 stay as given.
    const std::vector<std::string> args = {"record.sh", "a b.html", "it's", "caf\xe9", ""};
    ChildProcess p;
    ASSERT_TRUE(p.Start(prog, args, dir / "work place"));
    EXPECT_EQ(p.WaitForExit(10000), std::optional<int>(0));
    EXPECT_FALSE(p.started());
    EXPECT_EQ(readFile(out), dir / "work place" + "\na b.html\nit's\ncaf\xe9\n\n");
    EXPECT_EQ(std::filesystem::current_path(), before);

    // Failures to start say why.
    const std::tuple<std::string, std::string, const char *> failures[] = {
        {dir / "missing.sh", "", "cannot run"},
        {prog, dir / "no such folder", "cannot enter"},
        {"", "", "no program"},
    };
    for (const auto &[program, folder, expect] : failures) {
        ChildProcess failed;
        std::string error;
        EXPECT_FALSE(failed.Start(program, {}, folder, &error)) << program;
        EXPECT_NE(error.find(expect), std::string::npos) << error;
        EXPECT_FALSE(failed.started() || failed.Terminate());
    }

    // FindInPath looks along PATH, for executable files only.
    const std::string tool = script(dir, "bin/tool", "exit 0\n");
    dir.write("bin/data", "not executable");
    ScopedEnv path("PATH", (dir.path() + "/nothing:" + dir.path() + "/bin").c_str());
    const std::vector<std::string> found = {FindInPath("tool"), FindInPath("data"),
                                            FindInPath("absent"), FindInPath(tool), FindInPath("")};
    EXPECT_EQ(found, (std::vector<std::string>{tool, "", "", tool, ""}));
}

TEST(Process, TerminateEndsTheProcessAndWhatItStartedReleaseLetsItRun)
{
    TempDir dir;
    ChildProcess p;
    ASSERT_TRUE(
        p.Start("/bin/sh", {"sh", "-c", "sleep 30 & echo $! > " + dir / "kid" + "; wait"}, ""));
    pid_t kid = 0;
    ASSERT_TRUE(eventually([&] { return (kid = std::atoi(readFile(dir / "kid").c_str())) > 0; }));
    const pid_t me = p.pid();
    EXPECT_TRUE(p.Terminate());
    EXPECT_FALSE(p.started());
    EXPECT_TRUE(gone(me)); // collected at once, no zombie left
    EXPECT_TRUE(eventually([&] { return gone(kid); }));
    EXPECT_FALSE(p.Terminate());

    // A released process runs on, and is collected once it ends.
    ASSERT_TRUE(p.Start("/bin/sh", {"sh", "-c", "exec sleep 30"}, ""));
    const pid_t pid = p.pid();
    p.Release();
    EXPECT_FALSE(p.started());
    ReapEndedChildren();
    EXPECT_FALSE(gone(pid)); // released, not ended
    ::kill(pid, SIGTERM);
    EXPECT_TRUE(eventually([&] {
        ReapEndedChildren();
        return gone(pid);
    }));
}
