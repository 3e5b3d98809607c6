// Several processes on one store file, as the web server and Sylvix are.

#include "platform/ConfigStore.h"

#include "tests/platform/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace sylvix {
namespace {

namespace fs = std::filesystem;

// Forked children wait at the gate until it opens, so that they start
// together: each child closes its copy of the write end, and the read end
// sees end-of-file when the parent closes its own.
class Gate
{
public:
    Gate()
    {
        if (pipe(m_fds) != 0)
            m_fds[0] = m_fds[1] = -1;
    }
    ~Gate()
    {
        open();
        if (m_fds[0] >= 0)
            close(m_fds[0]);
    }
    void open()
    {
        if (m_fds[1] >= 0)
            close(m_fds[1]);
        m_fds[1] = -1;
    }
    void waitInChild() const
    {
        close(m_fds[1]);
        char c;
        while (read(m_fds[0], &c, 1) > 0) {
        }
    }
    bool valid() const { return m_fds[0] >= 0; }

private:
    int m_fds[2];
};

// Runs child() in a forked process once the gate opens; its return value is
// the exit code.
class Child
{
public:
    template <typename Fn>
    Child(const Gate &gate, Fn &&child)
    {
        if (!gate.valid())
            return;
        m_pid = fork();
        if (m_pid == 0) {
            gate.waitInChild();
            _exit(child());
        }
    }
    int wait()
    {
        int status = 0;
        if (m_pid <= 0 || waitpid(m_pid, &status, 0) != m_pid)
            return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    bool started() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
};

// Each writer opens the store itself (possibly creating it), then sets its
// values one write at a time, interleaved with the other writer.
int WriteValues(const std::string &path, const std::string &prefix, int count)
{
    std::string error;
    auto store = OpenSqliteStore(path, &error);
    if (!store)
        return 10;
    for (int i = 0; i < count; ++i) {
        // Some writes also create keys on a path the other writer shares.
        auto key = store->root()->createKey(i % 50 == 0 ? "Shared\\Values\\Sub" + std::to_string(i)
                                                        : "Shared\\Values");
        if (!key)
            return 11;
        if (i % 50 == 0)
            key = store->root()->openKey("Shared\\Values");
        if (!key || !WriteDword(*key, prefix + std::to_string(i), static_cast<uint32_t>(i)))
            return 12;
    }
    return 0;
}

// Holds the write lock in long transactions while the writers run, so that
// they really have to wait for it.
int RewriteInBulk(const std::string &path, int rounds)
{
    auto store = OpenSqliteStore(path);
    if (!store)
        return 10;
    for (int round = 0; round < rounds; ++round) {
        bool ok = store->transaction([&] {
            auto key = store->root()->createKey("Bulk");
            for (int i = 0; key && i < 200; ++i) {
                if (!WriteDword(*key, "v" + std::to_string(i), static_cast<uint32_t>(round)))
                    return false;
            }
            return key != nullptr;
        });
        if (!ok)
            return 11;
    }
    return 0;
}

TEST(StoreProcesses, ConcurrentWritersLoseNothing)
{
    TempDir dir;
    const std::string path = dir.file("registry.db");
    constexpr int kCount = 500;
    constexpr int kRounds = 50;

    Gate gate;
    Child first(gate, [&] { return WriteValues(path, "first-", kCount); });
    Child second(gate, [&] { return WriteValues(path, "second-", kCount); });
    Child bulk(gate, [&] { return RewriteInBulk(path, kRounds); });
    ASSERT_TRUE(first.started() && second.started() && bulk.started());
    gate.open();
    EXPECT_EQ(first.wait(), 0);
    EXPECT_EQ(second.wait(), 0);
    EXPECT_EQ(bulk.wait(), 0);

    std::string error;
    auto store = OpenSqliteStore(path, &error);
    ASSERT_TRUE(store) << error;
    auto key = store->root()->openKey("Shared\\Values");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->countValues(), 2u * kCount);
    EXPECT_EQ(key->countKeys(), kCount / 50u);

    std::set<std::string> seen;
    ConfigValue v;
    for (uint32_t i = 0; key->enumValue(i, v); ++i)
        seen.insert(v.name);
    for (const char *prefix : {"first-", "second-"}) {
        for (int i = 0; i < kCount; ++i) {
            uint32_t n = 0;
            std::string name = prefix + std::to_string(i);
            ASSERT_TRUE(ReadDword(*key, name, n)) << name;
            EXPECT_EQ(n, static_cast<uint32_t>(i));
            EXPECT_EQ(seen.count(name), 1u);
        }
    }
    uint32_t round = 0;
    EXPECT_TRUE(ReadDword(*store->root()->openKey("Bulk"), "v199", round));
    EXPECT_EQ(round, kRounds - 1u);
}

TEST(StoreProcesses, OtherProcessCommitsChangeGeneration)
{
    TempDir dir;
    const std::string path = dir.file("registry.db");
    std::string error;
    auto store = OpenSqliteStore(path, &error);
    ASSERT_TRUE(store) << error;
    uint64_t before = store->generation();

    Gate gate;
    Child writer(gate, [&] { return WriteValues(path, "w", 1); });
    gate.open();
    ASSERT_EQ(writer.wait(), 0);
    EXPECT_NE(store->generation(), before);
    EXPECT_TRUE(store->root()->openKey("Shared\\Values"));
}

TEST(StoreProcesses, CrashInsideTransactionLeavesNothingHalfWritten)
{
    TempDir dir;
    const std::string path = dir.file("registry.db");
    std::string error;
    auto store = OpenSqliteStore(path, &error);
    ASSERT_TRUE(store) << error;
    ASSERT_TRUE(WriteString(*store->root()->createKey("Server"), "Name", "before"));

    Gate gate;
    Child crasher(gate, [&] {
        auto own = OpenSqliteStore(path);
        if (!own)
            return 10;
        own->transaction([&] {
            auto key = own->root()->createKey("Server\\Half\\Written");
            for (int i = 0; key && i < 100; ++i)
                WriteDword(*key, "v" + std::to_string(i), static_cast<uint32_t>(i));
            WriteString(*own->root()->openKey("Server"), "Name", "during");
            _exit(3); // dies with the transaction open
            return true;
        });
        return 0;
    });
    gate.open();
    ASSERT_EQ(crasher.wait(), 3);

    auto after = OpenSqliteStore(path, &error);
    ASSERT_TRUE(after) << error;
    auto server = after->root()->openKey("Server");
    ASSERT_TRUE(server);
    EXPECT_FALSE(server->openKey("Half"));
    std::string name;
    ASSERT_TRUE(ReadString(*server, "Name", name));
    EXPECT_EQ(name, "before");
    // The store is not left locked either.
    EXPECT_TRUE(WriteString(*server, "Name", "after"));
}

} // namespace
} // namespace sylvix
