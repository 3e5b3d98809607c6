// The store under crash: a process writing to it is killed (SIGKILL) at a
// random moment, over and over. After every kill the store must open, pass
// SQLite's own integrity check, and hold the complete state from before the
// interrupted write or the complete state after it, never a mix.
//
// The moments are drawn at random over the time one uncut write takes here;
// SYLVIX_CRASH_SEED repeats a run's draws.

#include "platform/ConfigStore.h"

#include "tests/platform/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

namespace sylvix {
namespace {

const std::string kRegTool = SYLVIX_BINARY_DIR "/cli/sylvix-reg";

using Clock = std::chrono::steady_clock;

unsigned crashSeed()
{
    if (const char *s = std::getenv("SYLVIX_CRASH_SEED"))
        return static_cast<unsigned>(std::strtoul(s, nullptr, 10));
    return std::random_device()();
}

// What SQLite itself says of the database file.
std::string integrityCheck(const std::string &path)
{
    sqlite3 *db = nullptr;
    std::string result = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt *stmt = nullptr;
        result = "cannot run the check";
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK) {
            result.clear();
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                const unsigned char *row = sqlite3_column_text(stmt, 0);
                result += row ? reinterpret_cast<const char *>(row) : "(null)";
            }
            sqlite3_finalize(stmt);
        }
    }
    sqlite3_close(db);
    return result;
}

// Waits for pid; true when it ended by itself with status 0.
bool reap(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// ---- An import of a long ".reg" file ----

constexpr int kImportKeys = 30;
constexpr int kImportValues = 150; // per key: 4,500 values in all

// Rounds per test, fewer when a slow (sanitizer) build would take too long.
constexpr int kRounds = 30;
constexpr int kMinRounds = 10;
constexpr auto kRoundBudget = std::chrono::seconds(12);

// Version tag ('A' or 'B') of the file: every value of every key carries it,
// and only the file's own extra key exists after it.
std::string regFile(char tag)
{
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    const char other = tag == 'A' ? 'B' : 'A';
    text += std::string("[-HKEY_LOCAL_MACHINE\\Crash\\Only") + other + "]\r\n\r\n";
    text += std::string("[HKEY_LOCAL_MACHINE\\Crash\\Only") + tag + "]\r\n\"Mark\"=\"" + tag
            + "\"\r\n\r\n";
    for (int k = 0; k < kImportKeys; ++k) {
        text += "[HKEY_LOCAL_MACHINE\\Crash\\K" + std::to_string(k) + "]\r\n";
        for (int v = 0; v < kImportValues; ++v) {
            text += "\"v" + std::to_string(v) + "\"=\"" + tag + "-" + std::to_string(k) + "-"
                    + std::to_string(v) + "-" + std::string(32, tag) + "\"\r\n";
            if (v % 50 == 0)
                text += "\"b" + std::to_string(v) + "\"=hex:" + (tag == 'A' ? "0a,0b" : "0b,0a,0b")
                        + "\r\n";
        }
        text += "\r\n";
    }
    return text;
}

// 'A' or 'B' when the store holds exactly that file's state; '?' with why
// otherwise.
char importState(ConfigStore &store, std::string &why)
{
    auto crash = store.root()->openKey("Crash");
    if (!crash) {
        why = "the key Crash is missing";
        return '?';
    }
    const bool onlyA = crash->openKey("OnlyA") != nullptr;
    const bool onlyB = crash->openKey("OnlyB") != nullptr;
    if (onlyA == onlyB) {
        why = "OnlyA and OnlyB are both present or both missing";
        return '?';
    }
    const char tag = onlyA ? 'A' : 'B';
    for (int k = 0; k < kImportKeys; ++k) {
        const std::string name = "K" + std::to_string(k);
        auto key = crash->openKey(name);
        if (!key) {
            why = name + " is missing";
            return '?';
        }
        uint32_t strings = 0;
        ConfigValue value;
        for (uint32_t i = 0; key->enumValue(i, value); ++i) {
            if (value.type == ValueType::Binary) {
                if (value.data
                    != (tag == 'A' ? std::string("\x0a\x0b") : std::string("\x0b\x0a\x0b"))) {
                    why = name + "\\" + value.name + " holds the other file's bytes";
                    return '?';
                }
                continue;
            }
            ++strings;
            if (value.data.empty() || value.data[0] != tag || value.data.size() < 32
                || value.data.substr(value.data.size() - 32) != std::string(32, tag)) {
                why = name + "\\" + value.name + " = '" + value.data + "' in a store marked " + tag;
                return '?';
            }
        }
        if (strings != kImportValues) {
            why = name + " holds " + std::to_string(strings) + " text values";
            return '?';
        }
    }
    return tag;
}

TEST(StoreCrash, KilledImportLeavesTheOldOrTheNewFileWhole)
{
    ASSERT_TRUE(std::filesystem::exists(kRegTool)) << kRegTool;
    TempDir dir;
    const std::string db = dir.file("registry.db");
    const std::string files[2] = {dir.file("a.reg"), dir.file("b.reg")};
    std::ofstream(files[0], std::ios::binary) << regFile('A');
    std::ofstream(files[1], std::ios::binary) << regFile('B');

    auto spawnImport = [&](const std::string &file) {
        pid_t pid = ::fork();
        if (pid == 0) {
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execl(kRegTool.c_str(), "sylvix-reg", "--store", db.c_str(), "import", file.c_str(),
                    static_cast<char *>(nullptr));
            ::_exit(127);
        }
        return pid;
    };

    // One whole import, to learn how long one takes here.
    Clock::time_point t0 = Clock::now();
    ASSERT_TRUE(reap(spawnImport(files[0])));
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0);
    char state = 'A';

    const unsigned seed = crashSeed();
    SCOPED_TRACE("SYLVIX_CRASH_SEED=" + std::to_string(seed));
    std::mt19937 rng(seed);
    // Over a whole import's time: some kills come before the process got
    // going at all, some after its commit.
    std::uniform_int_distribution<int64_t> delay(0, whole.count());
    int killedMidway = 0, finished = 0, rounds = 0;
    const Clock::time_point start = Clock::now();
    for (int round = 0;
         round < kRounds && (round < kMinRounds || Clock::now() - start < kRoundBudget); ++round) {
        ++rounds;
        SCOPED_TRACE("round " + std::to_string(round));
        const char target = state == 'A' ? 'B' : 'A';
        pid_t pid = spawnImport(files[target == 'A' ? 0 : 1]);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(rng)));
        ::kill(pid, SIGKILL);
        const bool ranToEnd = reap(pid);

        ASSERT_EQ(integrityCheck(db), "ok");
        std::string error;
        auto store = OpenSqliteStore(db, &error);
        ASSERT_TRUE(store) << error;
        std::string why;
        const char now = importState(*store, why);
        ASSERT_NE(now, '?') << why;
        if (ranToEnd) {
            EXPECT_EQ(now, target) << "the import said it succeeded";
        }
        finished += ranToEnd;
        killedMidway += !ranToEnd && now == state;
        state = now;
    }
    // The moments are random, but over the rounds spread across the import
    // some must fall inside it.
    EXPECT_GT(killedMidway, 0);
    std::printf("import killed %d times: %d before its commit, %d after it, %d ran to the end\n",
                rounds, killedMidway, rounds - killedMidway - finished, finished);
}

// ---- A multi-key write in ConfigStore::transaction ----

constexpr int kPaths = 24; // protected paths

// The access-control layout of one generation: each protected path with its
// order, allow and deny classes and realm list, and the revision number.
// The number of entries changes from one generation to the next, so a
// write also deletes values and keys.
int entriesFor(uint32_t generation, int path)
{
    return 1 + static_cast<int>((generation + static_cast<uint32_t>(path)) % 9);
}

std::string entryName(int i)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d", i);
    return buf;
}

bool writeGeneration(ConfigStore &store, uint32_t generation)
{
    return store.transaction([&] {
        auto root = store.root();
        auto server = root->createKey("Server");
        if (!server)
            return false;
        auto basic = server->createKey("Access\\Basic");
        if (!basic)
            return false;
        const std::string g = std::to_string(generation);
        for (int p = 0; p < kPaths; ++p) {
            const std::string path = "/area" + std::to_string(p) + "/";
            basic->deleteTree(path);
            auto key = basic->createKey(path);
            if (!key || !WriteBinary32(*key, "Order", generation))
                return false;
            const int n = entriesFor(generation, p);
            for (const char *list : {"*allow", "*deny", "realm"}) {
                auto sub = key->createKey(list);
                if (!sub)
                    return false;
                for (int i = 1; i <= n; ++i)
                    if (!WriteString(*sub, entryName(i),
                                     std::string(list) == "realm" ? "user u" + g : "10.0." + g))
                        return false;
            }
        }
        return WriteBinary32(*server, "RevNumber", generation);
    });
}

// The generation the store holds; -1 with why when it is not one whole one.
int64_t storedGeneration(ConfigStore &store, std::string &why)
{
    auto server = store.root()->openKey("Server");
    uint32_t generation = 0;
    if (!server || !ReadBinary32(*server, "RevNumber", generation)) {
        why = "no revision number";
        return -1;
    }
    auto basic = server->openKey("Access\\Basic");
    if (!basic || basic->countKeys() != kPaths) {
        why = "not every protected path is there";
        return -1;
    }
    const std::string g = std::to_string(generation);
    for (int p = 0; p < kPaths; ++p) {
        const std::string path = "/area" + std::to_string(p) + "/";
        auto key = basic->openKey(path);
        uint32_t order = 0;
        if (!key || !ReadBinary32(*key, "Order", order) || order != generation) {
            why = path + " has another order than revision " + g;
            return -1;
        }
        const uint32_t n = static_cast<uint32_t>(entriesFor(generation, p));
        for (const char *list : {"*allow", "*deny", "realm"}) {
            auto sub = key->openKey(list);
            if (!sub || sub->countValues() != n) {
                why = path + list + " does not hold " + std::to_string(n) + " entries";
                return -1;
            }
            ConfigValue v;
            for (uint32_t i = 0; sub->enumValue(i, v); ++i)
                if (v.data != (std::string(list) == "realm" ? "user u" + g : "10.0." + g)) {
                    why = path + list + "\\" + v.name + " = '" + v.data + "' at revision " + g;
                    return -1;
                }
        }
    }
    return generation;
}

TEST(StoreCrash, KilledTransactionLeavesTheOldOrTheNewStateWhole)
{
    TempDir dir;
    const std::string db = dir.file("registry.db");
    // How long opening the store and one write take here.
    Clock::time_point t0 = Clock::now();
    {
        auto store = OpenSqliteStore(db);
        ASSERT_TRUE(store);
        ASSERT_TRUE(writeGeneration(*store, 0));
        ASSERT_TRUE(writeGeneration(*store, 0));
    }
    const auto once = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0) / 2;
    const unsigned seed = crashSeed();
    SCOPED_TRACE("SYLVIX_CRASH_SEED=" + std::to_string(seed));
    std::mt19937 rng(seed);
    // Mostly while the writer is inside its first few writes.
    std::uniform_int_distribution<int64_t> delay(0, once.count() * 4);

    uint32_t known = 0; // the last generation the writer reported committed
    int rounds = 0, commitsSeen = 0;
    const Clock::time_point start = Clock::now();
    for (; rounds < kRounds && (rounds < kMinRounds || Clock::now() - start < kRoundBudget);
         ++rounds) {
        SCOPED_TRACE("round " + std::to_string(rounds));
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // The writer: one generation after the other until it is killed,
            // telling the parent after each commit.
            ::close(pipeFds[0]);
            auto store = OpenSqliteStore(db);
            if (!store)
                ::_exit(2);
            for (uint32_t g = known + 1;; ++g) {
                if (!writeGeneration(*store, g))
                    ::_exit(3);
                if (::write(pipeFds[1], &g, sizeof g) != sizeof g)
                    ::_exit(4);
            }
        }
        ::close(pipeFds[1]);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(rng)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself, status " << status;
        uint32_t g;
        while (::read(pipeFds[0], &g, sizeof g) == sizeof g) {
            known = g;
            ++commitsSeen;
        }
        ::close(pipeFds[0]);

        ASSERT_EQ(integrityCheck(db), "ok");
        std::string error;
        auto store = OpenSqliteStore(db, &error);
        ASSERT_TRUE(store) << error;
        std::string why;
        const int64_t now = storedGeneration(*store, why);
        ASSERT_GE(now, 0) << why;
        // The last one reported, or the one after it when the kill came
        // between its commit and the report.
        ASSERT_TRUE(now == known || now == known + 1)
            << "store at " << now << ", last commit seen " << known;
        known = static_cast<uint32_t>(now);
    }
    EXPECT_GT(commitsSeen, 0);
    std::printf("writer killed %d times after %d reported commits\n", rounds, commitsSeen);
}

} // namespace
} // namespace sylvix
