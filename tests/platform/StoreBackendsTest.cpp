// The store's behaviours on both backends: the local SQLite file and a
// PostgreSQL server reached through the libpq environment (PGHOST, PGPORT,
// PGUSER, PGPASSWORD, PGDATABASE). Each PostgreSQL test gets a schema of its
// own, picked through PGOPTIONS, so that tests never see each other's keys.

#include "platform/ConfigStore.h"
#include "tests/support/RunTool.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/ScriptServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

namespace sylvix {
namespace {

using test::ScopedEnv;
using test::TempDir;

std::string EnvOr(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return value && *value ? value : fallback;
}

std::string PgHost()
{
    return EnvOr("PGHOST", "localhost");
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
        m_admin = PQconnectdb(("host=" + PgHost() + " connect_timeout=3").c_str());
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
                         : ConnectRemoteStore(PgHost(), &error);
        EXPECT_TRUE(store) << error;
        return store;
    }

    TempDir m_dir;
    std::unique_ptr<PgSchema> m_schema;
    std::unique_ptr<ConfigStore> m_store;
};

// The names of key's values, or with keys of its subkeys, in store order.
std::vector<std::string> Names(ConfigKey &key, bool keys = false)
{
    std::vector<std::string> names;
    ConfigValue v;
    for (uint32_t i = 0; keys ? key.enumKey(i, v.name) : key.enumValue(i, v); ++i)
        names.push_back(v.name);
    return names;
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
    const std::string binary("\0\xff\x01 x", 5);
    const std::string latin1 = "caf\xe9"; // not UTF-8: names are bytes
    ASSERT_TRUE(WriteString(*key, "Zeta", "first"));
    ASSERT_TRUE(key->setValue("alpha", ValueType::Binary, binary));
    ASSERT_TRUE(WriteDword(*key, "Mid", 0x01020304));
    ASSERT_TRUE(WriteString(*key, latin1, "accent"));
    ASSERT_TRUE(WriteString(*key, "ZETA", "second")); // overwrites in place, keeps "Zeta"
    for (const char *sub : {"b", "A", "c"})
        ASSERT_TRUE(key->createKey(sub));
    ASSERT_TRUE(key->createKey("B")); // the same key as "b"

    // A second connection sees exactly what the first wrote.
    auto other = open();
    auto again = other->root()->openKey("SOFTWARE\\tavrin");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->path(), "Software\\Tavrin");
    EXPECT_EQ(Names(*again), (std::vector<std::string>{"Zeta", "alpha", "Mid", latin1}));
    EXPECT_EQ(Names(*again, true), (std::vector<std::string>{"b", "A", "c"}));
    EXPECT_EQ(again->countValues(), 4u);
    EXPECT_EQ(again->countKeys(), 3u);

    ConfigValue v;
    ASSERT_TRUE(again->queryValue("ALPHA", v));
    EXPECT_EQ(v.type, ValueType::Binary);
    EXPECT_EQ(v.data, binary);
    uint32_t dword = 0;
    ASSERT_TRUE(ReadDword(*again, "mid", dword));
    EXPECT_EQ(dword, 0x01020304u);
    std::string text;
    ASSERT_TRUE(ReadString(*again, "zeta", text));
    EXPECT_EQ(text, "second");
    ASSERT_TRUE(ReadString(*again, latin1, text));
    EXPECT_EQ(text, "accent");
    EXPECT_FALSE(again->queryValue("absent", v));
    // Only ASCII letters fold: "\xc9" and "\xe9" are different names.
    EXPECT_FALSE(again->queryValue("CAF\xc9", v));
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
    // re-added value goes to the end. Another connection's delete shows in
    // the enumeration under way.
    ASSERT_TRUE(WriteDword(*again, "ZETA", 7));
    ASSERT_TRUE(again->deleteValue("alpha"));
    EXPECT_FALSE(again->deleteValue("alpha"));
    ASSERT_TRUE(again->setValue("ALPHA", ValueType::Binary, ""));
    EXPECT_EQ(Names(*again), (std::vector<std::string>{"Zeta", "Mid", latin1, "ALPHA"}));
    ASSERT_TRUE(again->enumValue(0, v));
    EXPECT_EQ(v.type, ValueType::Dword);
    ASSERT_TRUE(again->enumValue(1, v));
    const uint64_t seen = GetParam() == Backend::Postgres ? other->generation() : 0;
    ASSERT_TRUE(key->deleteValue("zeta"));
    // A PostgreSQL client learns of another's commit by a notification.
    if (GetParam() == Backend::Postgres) {
        ASSERT_TRUE(SeesChange(*other, seen));
    }
    ASSERT_TRUE(again->enumValue(2, v));
    EXPECT_EQ(v.name, "ALPHA");
    EXPECT_FALSE(again->enumValue(3, v));
}

TEST_P(StoreBackends, DeletingKeys)
{
    auto root = m_store->root();
    auto parent = root->createKey("P");
    auto child = root->createKey("P\\Child\\Leaf");
    ASSERT_TRUE(parent && child);
    ASSERT_TRUE(WriteString(*child, "v", "x"));
    ASSERT_TRUE(WriteString(*parent, "own", "y"));

    EXPECT_FALSE(root->deleteKey("P")) << "a key with subkeys stays";
    EXPECT_TRUE(root->openKey("P\\Child\\Leaf"));
    EXPECT_TRUE(parent->deleteTree("Child"));
    EXPECT_FALSE(root->openKey("P\\Child"));
    EXPECT_FALSE(WriteString(*child, "v", "again")) << "a handle to a deleted key writes nothing";
    EXPECT_NE(m_store->lastError().find("deleted"), std::string::npos) << m_store->lastError();
    EXPECT_TRUE(root->deleteKey("p"));
    EXPECT_FALSE(root->openKey("P"));
    EXPECT_FALSE(root->deleteKey("P"));
    EXPECT_FALSE(root->deleteTree("P"));

    // A new key of the old name does not take over the old handle.
    ASSERT_TRUE(root->createKey("P\\Child\\Leaf"));
    ConfigValue v;
    std::string name;
    EXPECT_FALSE(child->queryValue("v", v) || child->enumValue(0, v) || child->enumKey(0, name)
                 || child->createKey("Sub") || child->openKey("") || child->deleteValue("v"));
    EXPECT_EQ(child->countValues(), 0u);
    EXPECT_EQ(root->openKey("P\\Child\\Leaf")->countValues(), 0u);

    auto kept = root->createKey("Kept\\Inner");
    ASSERT_TRUE(kept);
    auto outer = root->openKey("Kept");
    ASSERT_TRUE(WriteString(*outer, "v", "x"));
    EXPECT_TRUE(outer->deleteTree(""));
    EXPECT_TRUE(root->openKey("Kept"));
    EXPECT_EQ(outer->countKeys() + outer->countValues(), 0u);
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
    auto other = open();
    EXPECT_EQ(Names(*other->root()->openKey("T")), (std::vector<std::string>{"c", "d"}));
    EXPECT_EQ(Names(*key), (std::vector<std::string>{"c", "d"}));
}

TEST_P(StoreBackends, GenerationFollowsEveryCommit)
{
    auto reader = open();
    auto mine = m_store->root()->createKey("G");
    ASSERT_TRUE(mine && WriteString(*mine, "v", "one"));
    ASSERT_TRUE(SeesChange(*reader, 0) || reader->generation() != 0);

    auto theirs = reader->root()->openKey("G");
    ASSERT_TRUE(theirs);
    std::string text;
    ASSERT_TRUE(ReadString(*theirs, "v", text));
    EXPECT_EQ(text, "one");
    const uint64_t before = reader->generation();
    EXPECT_EQ(reader->generation(), before) << "nothing changed";

    ASSERT_TRUE(WriteString(*mine, "v", "two"));
    ASSERT_TRUE(SeesChange(*reader, before));
    ASSERT_TRUE(ReadString(*theirs, "v", text));
    EXPECT_EQ(text, "two") << "what was read before the change is not reused";

    // Reads alone change nothing, nor does "creating" a key that exists.
    const uint64_t own = m_store->generation();
    EXPECT_TRUE(ReadString(*mine, "v", text) && m_store->root()->createKey("g"));
    EXPECT_EQ(m_store->generation(), own);
    ASSERT_TRUE(m_store->root()->deleteTree("G"));
    EXPECT_NE(m_store->generation(), own) << "an own commit shows at once";
}

TEST_P(StoreBackends, ConcurrentIncrementsAreNotLost)
{
    auto other = open();
    auto mine = m_store->root()->createKey("Counter");
    auto theirs = other->root()->openKey("Counter");
    ASSERT_TRUE(mine && theirs);
    auto addOne = [](ConfigStore &store, ConfigKey &key) {
        return store.transaction([&] {
            uint32_t n = 0;
            ReadDword(key, "n", n);
            return WriteDword(key, "n", n + 1);
        });
    };
    // In turn first: what this connection read before another one wrote is
    // read again inside its transaction.
    uint32_t n = 0;
    ASSERT_TRUE(addOne(*m_store, *mine));
    ASSERT_TRUE(ReadDword(*mine, "n", n));
    ASSERT_TRUE(addOne(*other, *theirs));
    ASSERT_TRUE(addOne(*m_store, *mine));
    ASSERT_TRUE(ReadDword(*theirs, "n", n));
    ASSERT_EQ(n, 3u);

    // Each round reads the counter first, as a page shows a value before
    // the user changes it; the transaction must not build on that read.
    constexpr int kEach = 15;
    auto increment = [&](ConfigStore &store, ConfigKey &key) {
        for (int i = 0; i < kEach; ++i) {
            uint32_t shown = 0;
            ReadDword(key, "n", shown);
            ASSERT_TRUE(addOne(store, key)) << store.lastError();
        }
    };
    std::thread a([&] { increment(*m_store, *mine); });
    std::thread b([&] { increment(*other, *theirs); });
    a.join();
    b.join();
    ASSERT_TRUE(ReadDword(*open()->root()->openKey("Counter"), "n", n));
    EXPECT_EQ(n, 3u + 2u * kEach);

    // Keys outlive their store.
    m_store.reset();
    ASSERT_TRUE(WriteDword(*mine, "n", 0));
    mine.reset();
    ASSERT_TRUE(ReadDword(*open()->root()->openKey("Counter"), "n", n));
    EXPECT_EQ(n, 0u);
}

INSTANTIATE_TEST_SUITE_P(, StoreBackends, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto &info) {
                             return info.param == Backend::Sqlite ? "Sqlite" : "Postgres";
                         });

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

// A server's configuration moved onto the remote store and back with the
// command-line tool; the commands themselves are checked on a local store.
TEST(RemoteStore, RegToolImportsAndExportsRemotely)
{
    PgSchema schema;
    if (!schema.ready())
        GTEST_SKIP() << "no PostgreSQL server: " << schema.why();
    TempDir dir;
    const std::string server = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavrin\\WebServer\\CurrentVersion";
    // Written as export writes it, so that the way back gives the same text.
    const std::string text = "Windows Registry Editor Version 5.00\n\n[" + server
                             + "]\n\"ServerRoot\"=\"/srv/www\"\n\"TCP Port\"=dword:00000050\n\n["
                             + server
                             + "\\DocMap]\n\"/\"=\"/srv/www/html\"\n\"/img\"=hex:00,01,fe\n\n";
    auto reg = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"-r", PgHost()});
        return test::runTool(SYLVIX_REG_PATH, args, {}, {}, 60);
    };
    ScopedEnv local("NORVANE_REGISTRY", dir.file("local.db").c_str()); // must not be touched
    EXPECT_EQ(reg({"import", dir.write("in.reg", text)}).status, 0);
    const test::ToolRun exported = reg({"export", server});
    EXPECT_EQ(exported.out, text) << exported.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("local.db")));

    ScopedEnv closed("PGPORT", "1");
    const test::ToolRun refused = reg({"list", "HKLM"});
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.err.find("Error connecting to remote server registry"), std::string::npos)
        << refused.err;
}

} // namespace
} // namespace sylvix
