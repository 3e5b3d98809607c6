// The store's behaviours on both backends: the local SQLite file and a
// PostgreSQL server reached through the libpq environment (PGHOST, PGPORT,
// PGUSER, PGPASSWORD, PGDATABASE). Each PostgreSQL test gets a schema of its
// own, picked through PGOPTIONS, so that tests never see each other's keys.
// Then what only the SQLite file does: opening, and several processes on it.

#include "platform/ConfigStore.h"
#include "tests/support/RunTool.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/ScriptServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>
#include <tuple>

namespace sylvix {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::ScopedEnv;
using test::TempDir;

std::string EnvOr(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return value && *value ? value : fallback;
}

// A schema of its own on the server, picked through PGOPTIONS for the
// connections the test makes; why() says what failed when there is none.
class PgSchema
{
public:
    PgSchema()
    {
        static std::atomic<int> counter{0};
        m_name = "sylvix_test_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
        m_admin
            = PQconnectdb(("host=" + EnvOr("PGHOST", "localhost") + " connect_timeout=3").c_str());
        if (exec("CREATE SCHEMA " + m_name))
            m_options.emplace("PGOPTIONS",
                              (EnvOr("PGOPTIONS", "") + " -c search_path=" + m_name).c_str());
    }
    ~PgSchema()
    {
        if (ready()) {
            m_options.reset();
            exec("DROP SCHEMA " + m_name + " CASCADE");
        }
        PQfinish(m_admin);
    }

    bool ready() const { return m_options.has_value(); }
    std::string why() const { return PQerrorMessage(m_admin); }

private:
    bool exec(const std::string &sql)
    {
        PGresult *r = PQexec(m_admin, sql.c_str());
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
        return ok;
    }

    PGconn *m_admin = nullptr;
    std::string m_name;
    std::optional<ScopedEnv> m_options;
};

enum class Backend { Sqlite, Postgres };

class StoreBackends : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        if (GetParam() == Backend::Postgres) {
            m_schema = std::make_unique<PgSchema>();
            if (!m_schema->ready())
                GTEST_SKIP() << "no PostgreSQL server reachable through the libpq environment: "
                             << m_schema->why();
        }
        m_store = open();
        ASSERT_TRUE(m_store);
    }

    // Another connection to the same store, as another process would have.
    std::unique_ptr<ConfigStore> open()
    {
        std::string error;
        auto store = GetParam() == Backend::Sqlite
                         ? OpenSqliteStore(m_dir.file("registry.db"), &error)
                         : ConnectRemoteStore(EnvOr("PGHOST", "localhost"), &error);
        EXPECT_TRUE(store) << error;
        return store;
    }

    TempDir m_dir;
    std::unique_ptr<PgSchema> m_schema;
    std::unique_ptr<ConfigStore> m_store;
};

// A key's counts, values (name=type:data) and subkeys in store order.
std::string Show(ConfigKey &key)
{
    std::string out = std::to_string(key.countValues()) + "/" + std::to_string(key.countKeys());
    ConfigValue v;
    for (uint32_t i = 0; key.enumValue(i, v); ++i)
        out += " " + v.name + "=" + std::to_string(static_cast<int>(v.type)) + ":" + v.data;
    for (uint32_t i = 0; key.enumKey(i, v.name); ++i)
        out += " [" + v.name + "]";
    return out;
}

// Waits for a change that another connection committed; the PostgreSQL
// notification travels asynchronously, so the bound is generous.
bool SeesChange(ConfigStore &store, uint64_t before)
{
    return test::eventually([&] { return store.generation() != before; }, 20);
}

TEST_P(StoreBackends, ValuesKeepTypeCaseAndOrder)
{
    auto key = m_store->root()->createKey("Software\\Tavrin");
    ASSERT_TRUE(key) << m_store->lastError();
    const std::string latin1 = "caf\xe9"; // not UTF-8: names are bytes
    ASSERT_TRUE(WriteString(*key, "Zeta", "first")
                && key->setValue("alpha", ValueType::Binary, "\0\xff\x01 x"s)
                && WriteDword(*key, "Mid", 0x01020304) && WriteString(*key, latin1, "accent")
                && WriteString(*key, "ZETA", "second")); // overwrites in place, keeps "Zeta"
    for (const char *sub : {"b", "A", "c", "B"})         // "B" is the same key as "b"
        ASSERT_TRUE(key->createKey(sub));

    // A second connection sees exactly what the first wrote.
    auto other = open();
    auto again = other->root()->openKey("SOFTWARE\\tavrin");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->path(), "Software\\Tavrin");
    EXPECT_EQ(Show(*again), "4/3 Zeta=1:second alpha=3:\0\xff\x01 x Mid=4:\x04\x03\x02\x01"
                            " caf\xe9=1:accent [b] [A] [c]"s);
    // Only ASCII letters fold: "\xc9" and "\xe9" are different names.
    ConfigValue v, latin;
    EXPECT_TRUE(again->queryValue("ALPHA", v) && again->queryValue(latin1, latin));
    EXPECT_EQ(v.data + latin.data, "\0\xff\x01 xaccent"s);
    EXPECT_FALSE(again->queryValue("absent", v) || again->queryValue("CAF\xc9", v));
    EXPECT_FALSE(again->openKey("Software\\Tavrin\\absent"));
    EXPECT_NE(m_store->lastError().find("not found"), std::string::npos);
    // Only "\" separates, and no part may be empty; ".." is a name like any other.
    for (const char *bad : {"a\\\\b", "\\a", "a\\", "b\\.."})
        EXPECT_FALSE(again->openKey(bad) || again->deleteKey(bad)) << bad;
    EXPECT_FALSE(again->createKey("a\\\\b"));
    auto url = again->createKey("Basic\\/docs/private/");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->name(), "/docs/private/");
    EXPECT_EQ(url->openKey("")->path(), "Software\\Tavrin\\Basic\\/docs/private/");

    // Overwriting keeps the place, also with a new type; a deleted and
    // re-added value goes to the end.
    ASSERT_TRUE(WriteDword(*again, "ZETA", 7));
    ASSERT_TRUE(again->deleteValue("alpha"));
    EXPECT_FALSE(again->deleteValue("alpha"));
    ASSERT_TRUE(again->setValue("ALPHA", ValueType::Binary, ""));
    EXPECT_EQ(
        Show(*again),
        "4/4 Zeta=4:\x07\0\0\0 Mid=4:\x04\x03\x02\x01 caf\xe9=1:accent ALPHA=3: [b] [A] [c] [Basic]"s);
    ASSERT_TRUE(again->enumValue(1, v));
    // Reads, and "creating" a key that exists, change no generation. A commit
    // shows at once on its own connection, and on another one soon (on
    // PostgreSQL by a notification); there it shows in the enumeration under
    // way, not what was read before.
    const uint64_t own = m_store->generation(), seen = other->generation();
    ASSERT_TRUE(key->queryValue("Mid", v) && m_store->root()->createKey("software"));
    EXPECT_EQ(m_store->generation(), own);
    ASSERT_TRUE(key->deleteValue("zeta"));
    EXPECT_NE(m_store->generation(), own);
    ASSERT_TRUE(SeesChange(*other, seen));
    ASSERT_TRUE(again->enumValue(2, v));
    EXPECT_EQ(v.name, "ALPHA");
    EXPECT_FALSE(again->enumValue(3, v));
}

TEST_P(StoreBackends, DeletingKeys)
{
    auto root = m_store->root();
    auto parent = root->createKey("P");
    auto child = root->createKey("P\\Child\\Leaf");
    ASSERT_TRUE(parent && child && WriteString(*child, "v", "x")
                && WriteString(*parent, "own", "y"));

    EXPECT_FALSE(root->deleteKey("P")) << "a key with subkeys stays";
    EXPECT_TRUE(parent->deleteTree("Child"));
    EXPECT_FALSE(root->openKey("P\\Child"));
    EXPECT_FALSE(WriteString(*child, "v", "again")) << "a handle to a deleted key writes nothing";
    EXPECT_NE(m_store->lastError().find("deleted"), std::string::npos) << m_store->lastError();
    EXPECT_TRUE(root->deleteKey("p"));

    // A new key of the old name does not take over the old handle.
    ASSERT_TRUE(root->createKey("P\\Child\\Leaf"));
    ConfigValue v;
    EXPECT_FALSE(child->queryValue("v", v) || child->enumValue(0, v) || child->enumKey(0, v.name)
                 || child->createKey("Sub") || child->openKey("") || child->deleteValue("v"));
    EXPECT_EQ(Show(*child) + Show(*root->openKey("P\\Child\\Leaf")), "0/00/0");
}

TEST_P(StoreBackends, TransactionsNestAndRollBack)
{
    auto key = m_store->root()->createKey("T");
    ASSERT_TRUE(key);
    auto write = [&](const char *name) { return WriteString(*key, name, "x"); };

    EXPECT_FALSE(m_store->transaction(
        [&] { return write("a") && m_store->transaction([&] { return write("b"); }) && false; }));
    EXPECT_TRUE(m_store->transaction(
        [&] { return write("c") && m_store->transaction([&] { return write("d"); }); }));
    EXPECT_THROW(m_store->transaction([&]() -> bool {
        write("e");
        throw std::runtime_error("stop");
    }),
                 std::runtime_error);
    EXPECT_EQ(Show(*open()->root()->openKey("T")), "2/0 c=1:x d=1:x");
    EXPECT_EQ(Show(*key), "2/0 c=1:x d=1:x");
}

TEST_P(StoreBackends, ConcurrentIncrementsAreNotLost)
{
    auto other = open();
    auto mine = m_store->root()->createKey("Counter");
    auto theirs = other->root()->openKey("Counter");
    ASSERT_TRUE(mine && theirs);
    // Each round reads the counter first, as a page shows a value before
    // the user changes it; the transaction must not build on that read.
    auto increment = [](ConfigStore &store, ConfigKey &key, int times) {
        for (int i = 0; i < times; ++i) {
            uint32_t n = 0;
            ReadDword(key, "n", n);
            ASSERT_TRUE(store.transaction([&] {
                ReadDword(key, "n", n);
                return WriteDword(key, "n", n + 1);
            })) << store.lastError();
        }
    };
    // In turn first: what this connection read before another one wrote is
    // read again inside its transaction.
    increment(*m_store, *mine, 1);
    uint32_t n = 0;
    ASSERT_TRUE(ReadDword(*mine, "n", n));
    increment(*other, *theirs, 1);
    increment(*m_store, *mine, 1);
    constexpr int kEach = 15;
    std::thread a([&] { increment(*m_store, *mine, kEach); });
    std::thread b([&] { increment(*other, *theirs, kEach); });
    a.join();
    b.join();
    ASSERT_TRUE(ReadDword(*open()->root()->openKey("Counter"), "n", n));
    EXPECT_EQ(n, 3u + 2u * kEach);
}

INSTANTIATE_TEST_SUITE_P(, StoreBackends, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto &info) {
                             return info.param == Backend::Sqlite ? "Sqlite" : "Postgres";
                         });

// A server's configuration moved onto the remote store and back with the
// command-line tool; the commands themselves are checked on a local store.
TEST(RemoteStore, UnreachableServerFailsWithinTheTimeout)
{
    ScopedEnv timeout("PGCONNECT_TIMEOUT", "2");
    // Port 1 on loopback refuses at once; a listener that never accepts
    // waits out the time-out, as a server behind a dead link does.
    test::LoopbackListener silent;
    for (const std::string &port : {std::string("1"), std::to_string(silent.port())}) {
        ScopedEnv env("PGPORT", port.c_str());
        auto start = std::chrono::steady_clock::now();
        std::string error;
        EXPECT_FALSE(ConnectRemoteStore("127.0.0.1", &error));
        EXPECT_NE(error.find("cannot connect to the configuration store on 127.0.0.1"),
                  std::string::npos)
            << error;
        // The time-out is the behaviour here; the bound leaves room for a loaded machine.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15)) << port;
    }
}

TEST(RemoteStore, RegToolImportsAndExportsRemotely)
{
    PgSchema schema;
    if (!schema.ready())
        GTEST_SKIP() << "no PostgreSQL server: " << schema.why();
    TempDir dir;
    // Written as export writes it, so that the way back gives the same text.
    const std::string server = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavrin";
    const std::string text = "Windows Registry Editor Version 5.00\n\n[" + server
                             + "]\n\"TCP Port\"=dword:00000050\n\"/img\"=hex:00,01,fe\n\n";
    auto reg = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"-r", EnvOr("PGHOST", "localhost")});
        return test::runTool(SYLVIX_REG_PATH, args, {}, {}, 60);
    };
    ScopedEnv local("NORVANE_REGISTRY", dir.file("local.db").c_str()); // must not be touched
    EXPECT_EQ(reg({"import", dir.write("in.reg", text)}).status, 0);
    const test::ToolRun exported = reg({"export", server});
    EXPECT_EQ(exported.out, text) << exported.err;
    EXPECT_FALSE(fs::exists(dir.file("local.db")));
}

// The typed readers and writers over a store's values.
TEST(StoreValues, QuerySizeLimitsAndTypedReads)
{
    TempDir dir;
    auto store = OpenSqliteStore(dir.file("registry.db"));
    ASSERT_TRUE(store);
    auto key = store->root()->createKey("Sizes");
    ASSERT_TRUE(key && WriteBinary32(*key, "bin", 0x01020304) && WriteDword(*key, "num", 80)
                && key->setValue("short", ValueType::Binary, std::string("\x05\x01", 2))
                && key->setValue("long", ValueType::Binary, std::string(5, '\x01'))
                && WriteString(*key, "259", std::string(259, 'x'))
                && WriteString(*key, "260", std::string(260, 'x')));

    // Strings count their terminating zero; a failed read leaves the output alone.
    // A name, the longest string taken, and whether it is read.
    const std::tuple<const char *, size_t, bool> strings[]
        = {{"259", 259, true}, {"260", 259, false}, {"num", 259, false}};
    for (const auto &[name, max, ok] : strings) {
        std::string text = "kept";
        EXPECT_EQ(ReadString(*key, name, text, max), ok) << name << " " << max;
        EXPECT_EQ(text, ok ? std::string(max, 'x') : "kept") << name;
    }

    // A reader, a name, and whether it is read and as what (99: left alone).
    using NumberReader = bool (*)(ConfigKey &, std::string_view, uint32_t &);
    const std::tuple<NumberReader, const char *, bool, uint32_t> numbers[]
        = {{ReadBinary32, "bin", true, 0x01020304}, {ReadBinary32, "short", true, 0x0105},
           {ReadBinary32, "long", false, 99},       {ReadDword, "num", true, 80},
           {ReadDword, "bin", true, 0x01020304},    {ReadDword, "short", false, 99}};
    for (const auto &[read, name, ok, value] : numbers) {
        uint32_t n = 99;
        const bool got = read(*key, name, n);
        EXPECT_EQ(std::tuple(got, n), std::tuple(ok, value)) << name;
    }
}

TEST(StoreOpen, ParentsAndDefaultPath)
{
    TempDir dir;
    std::string error;
    EXPECT_TRUE(OpenSqliteStore(dir.file("a/b/registry.db"), &error)) << error; // parents are made

    {
        ScopedEnv reg("NORVANE_REGISTRY", "/somewhere/reg.db");
        EXPECT_EQ(DefaultStorePath(), "/somewhere/reg.db");
    }
    ScopedEnv reg("NORVANE_REGISTRY", nullptr);
    {
        ScopedEnv xdg("XDG_DATA_HOME", dir.file("data").c_str());
        EXPECT_EQ(DefaultStorePath(), dir.file("data/norvane/registry.db"));
    }
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    ScopedEnv home("HOME", dir.file("home").c_str());
    EXPECT_EQ(DefaultStorePath(), dir.file("home/.local/share/norvane/registry.db"));
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
    // Each child waits for end-of-file on the gate, which comes when the
    // parent closes its end: so all of them start together.
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> children;
    for (const char *prefix : {"first-", "second-", "third-"}) {
        children.push_back(fork());
        if (children.back() == 0) {
            close(gate[1]);
            for (char c; read(gate[0], &c, 1) > 0;) {
            }
            _exit(WriteValues(path, prefix, kCount));
        }
    }
    close(gate[1]);
    close(gate[0]);
    for (pid_t pid : children) {
        int status = -1;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_EQ(status, 0) << "exit code " << WEXITSTATUS(status);
    }

    auto store = OpenSqliteStore(path);
    auto key = store ? store->root()->openKey("Shared\\Values") : nullptr;
    ASSERT_TRUE(key);
    EXPECT_EQ(std::tuple(key->countValues(), key->countKeys()),
              std::tuple(3u * kCount, kCount / 50u));
}

} // namespace
} // namespace sylvix
