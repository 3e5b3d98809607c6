// Several processes on one store file, as the web server and Sylvix are.

#include "platform/ConfigStore.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace sylvix {
namespace {

using test::TempDir;

// Runs fn in a forked child, its result the exit code. The child first waits
// for end-of-file on gate[0], which comes when the parent closes gate[1]:
// so children forked before that start together.
template<typename Fn>
pid_t Fork(const int gate[2], Fn fn)
{
    pid_t pid = fork();
    if (pid == 0) {
        close(gate[1]);
        char c;
        while (read(gate[0], &c, 1) > 0) {
        }
        _exit(fn());
    }
    return pid;
}

int ExitCode(pid_t pid)
{
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Each writer opens the store itself (possibly creating it), then sets its
// values one write at a time, interleaved with the other writers; some writes
// also create keys on a path the others share.
int WriteValues(const std::string &path, const std::string &prefix, int count)
{
    auto store = OpenSqliteStore(path);
    for (int i = 0; store && i < count; ++i) {
        if (i % 50 == 0 && !store->root()->createKey("Shared\\Values\\Sub" + std::to_string(i)))
            return 11;
        auto key = store->root()->createKey("Shared\\Values");
        if (!key || !WriteDword(*key, prefix + std::to_string(i), static_cast<uint32_t>(i)))
            return 12;
    }
    return store ? 0 : 10;
}

// Three processes start on a store none has made yet, as the web server and
// Sylvix may, and write at once: nothing may be lost.
TEST(StoreProcesses, ConcurrentWritersLoseNothing)
{
    TempDir dir;
    const std::string path = dir.file("registry.db");
    constexpr int kCount = 500;
    const char *prefixes[] = {"first-", "second-", "third-"};

    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> children;
    for (const char *prefix : prefixes)
        children.push_back(Fork(gate, [&] { return WriteValues(path, prefix, kCount); }));
    close(gate[1]);
    close(gate[0]);
    for (pid_t pid : children)
        EXPECT_EQ(ExitCode(pid), 0);

    std::string error;
    auto store = OpenSqliteStore(path, &error);
    ASSERT_TRUE(store) << error;
    auto key = store->root()->openKey("Shared\\Values");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->countValues(), std::size(prefixes) * kCount);
    EXPECT_EQ(key->countKeys(), kCount / 50u);
    for (const char *prefix : prefixes) {
        for (int i = 0; i < kCount; ++i) {
            uint32_t n = 0;
            ASSERT_TRUE(ReadDword(*key, prefix + std::to_string(i), n)) << prefix << i;
            EXPECT_EQ(n, static_cast<uint32_t>(i));
        }
    }
}

} // namespace
} // namespace sylvix
