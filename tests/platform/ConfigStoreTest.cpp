#include "platform/ConfigStore.h"

#include "tests/platform/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

namespace sylvix {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one scope.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const char *value) : m_name(name)
    {
        if (const char *old = std::getenv(name))
            m_old = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char *m_name;
    std::optional<std::string> m_old;
};

class StoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string error;
        store = OpenSqliteStore(dir.file("registry.db"), &error);
        ASSERT_TRUE(store) << error;
        root = store->root();
    }

    std::unique_ptr<ConfigStore> openSecond()
    {
        std::string error;
        auto second = OpenSqliteStore(dir.file("registry.db"), &error);
        EXPECT_TRUE(second) << error;
        return second;
    }

    static std::vector<std::string> valueNames(ConfigKey &key)
    {
        std::vector<std::string> names;
        ConfigValue v;
        for (uint32_t i = 0; key.enumValue(i, v); ++i)
            names.push_back(v.name);
        return names;
    }
    static std::vector<std::string> keyNames(ConfigKey &key)
    {
        std::vector<std::string> names;
        std::string name;
        for (uint32_t i = 0; key.enumKey(i, name); ++i)
            names.push_back(name);
        return names;
    }

    TempDir dir;
    std::unique_ptr<ConfigStore> store;
    std::unique_ptr<ConfigKey> root;
};

using Names = std::vector<std::string>;

TEST_F(StoreTest, NamesIgnoreCaseButKeepIt)
{
    auto key = root->createKey("Software\\Tavrin\\WebServer");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->path(), "Software\\Tavrin\\WebServer");
    EXPECT_EQ(key->name(), "WebServer");

    auto again = root->createKey("SOFTWARE\\tavrin\\WEBSERVER\\CurrentVersion");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->path(), "Software\\Tavrin\\WebServer\\CurrentVersion");
    EXPECT_EQ(root->countKeys(), 1u);

    auto opened = root->openKey("software\\TAVRIN");
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->path(), "Software\\Tavrin");

    ASSERT_TRUE(WriteString(*key, "ServerName", "localhost"));
    ASSERT_TRUE(WriteString(*key, "SERVERNAME", "example.org"));
    EXPECT_EQ(key->countValues(), 1u);
    ConfigValue v;
    ASSERT_TRUE(key->queryValue("servername", v));
    EXPECT_EQ(v.name, "ServerName");
    EXPECT_EQ(v.data, "example.org");

    // Only ASCII letters fold: "É" and "é" are different names.
    ASSERT_TRUE(WriteString(*key, "\xc3\x89t\xc3\xa9", "upper"));
    EXPECT_FALSE(key->queryValue("\xc3\xa9t\xc3\xa9", v));
}

TEST_F(StoreTest, EnumerationFollowsInsertionOrder)
{
    auto key = root->createKey("Order");
    for (const char *name : {"zeta", "Alpha", "mid"})
        ASSERT_TRUE(key->createKey(name));
    for (const char *name : {"c", "A", "b", "d"})
        ASSERT_TRUE(WriteString(*key, name, name));
    EXPECT_EQ(keyNames(*key), (Names{"zeta", "Alpha", "mid"}));
    EXPECT_EQ(valueNames(*key), (Names{"c", "A", "b", "d"}));

    // Overwriting keeps the place, also with a new type; a deleted and
    // re-added value goes to the end.
    ASSERT_TRUE(WriteDword(*key, "a", 7));
    ASSERT_TRUE(key->deleteValue("c"));
    ASSERT_TRUE(WriteString(*key, "C", "again"));
    EXPECT_EQ(valueNames(*key), (Names{"A", "b", "d", "C"}));
    ConfigValue v;
    ASSERT_TRUE(key->enumValue(0, v));
    EXPECT_EQ(v.type, ValueType::Dword);
    EXPECT_EQ(v.dword(), 7u);
    EXPECT_FALSE(key->enumValue(4, v));
    EXPECT_EQ(key->countValues(), 4u);
    EXPECT_EQ(key->countKeys(), 3u);
}

TEST_F(StoreTest, EnumerationSeesChangesBetweenCalls)
{
    auto key = root->createKey("List");
    for (const char *name : {"a", "b", "c", "d", "e"})
        ASSERT_TRUE(WriteString(*key, name, name));
    ConfigValue v;
    ASSERT_TRUE(key->enumValue(0, v));
    ASSERT_TRUE(key->enumValue(1, v));

    // Removing an earlier value shifts the indexes, through another handle...
    ASSERT_TRUE(root->openKey("List")->deleteValue("a"));
    ASSERT_TRUE(key->enumValue(2, v));
    EXPECT_EQ(v.name, "d");

    // ...and through another connection.
    auto second = openSecond();
    ASSERT_TRUE(second->root()->openKey("list")->deleteValue("b"));
    ASSERT_TRUE(key->enumValue(3, v) == false);
    ASSERT_TRUE(key->enumValue(2, v));
    EXPECT_EQ(v.name, "e");

    std::string name;
    ASSERT_TRUE(root->createKey("List\\k1") && root->createKey("List\\k2")
                && root->createKey("List\\k3"));
    ASSERT_TRUE(key->enumKey(0, name));
    ASSERT_TRUE(key->deleteKey("k1"));
    ASSERT_TRUE(key->enumKey(1, name));
    EXPECT_EQ(name, "k3");
}

TEST_F(StoreTest, PathsUseBackslashOnly)
{
    auto path = root->createKey("Access\\Basic\\/docs/private/");
    ASSERT_TRUE(path);
    EXPECT_EQ(path->name(), "/docs/private/");
    EXPECT_EQ(keyNames(*root->openKey("Access\\Basic")), (Names{"/docs/private/"}));
    ASSERT_TRUE(root->createKey("Access\\Basic\\/"));
    EXPECT_EQ(root->openKey("Access\\Basic")->countKeys(), 2u);

    // An empty path is the key itself.
    auto self = path->openKey("");
    ASSERT_TRUE(self);
    EXPECT_EQ(self->path(), path->path());
    ASSERT_TRUE(path->createKey(""));
    EXPECT_EQ(path->countKeys(), 0u);

    for (const char *bad : {"a\\\\b", "\\a", "a\\"}) {
        EXPECT_FALSE(root->createKey(bad)) << bad;
        EXPECT_FALSE(root->openKey(bad)) << bad;
    }
    EXPECT_FALSE(root->openKey("Access\\Missing"));
    EXPECT_NE(store->lastError().find("not found"), std::string::npos);
}

TEST_F(StoreTest, DeleteKeyAndTree)
{
    auto a = root->createKey("A\\B\\C");
    ASSERT_TRUE(WriteString(*a, "v", "x"));
    auto b = root->openKey("A\\B");
    ASSERT_TRUE(WriteString(*b, "w", "y"));

    EXPECT_FALSE(root->deleteKey("A\\B")); // has a subkey
    EXPECT_TRUE(root->openKey("A\\B\\C"));
    EXPECT_FALSE(root->deleteKey("A\\Missing"));
    EXPECT_FALSE(root->deleteKey(""));
    ASSERT_TRUE(b->deleteKey("C"));
    EXPECT_FALSE(root->openKey("A\\B\\C"));
    // Its values went with it.
    EXPECT_EQ(root->createKey("A\\B\\C")->countValues(), 0u);

    ASSERT_TRUE(WriteString(*root->createKey("A\\B\\C\\D"), "deep", "z"));
    ASSERT_TRUE(root->deleteTree("a\\b"));
    EXPECT_FALSE(root->openKey("A\\B"));
    EXPECT_EQ(keyNames(*root->openKey("A")), Names{});
    EXPECT_FALSE(root->deleteTree("A\\B"));

    // An empty path empties the key and keeps it.
    auto top = root->openKey("A");
    ASSERT_TRUE(WriteString(*top, "keep", "no"));
    ASSERT_TRUE(top->createKey("X\\Y"));
    ASSERT_TRUE(top->deleteTree(""));
    EXPECT_TRUE(root->openKey("A"));
    EXPECT_EQ(top->countValues() + top->countKeys(), 0u);
    EXPECT_FALSE(root->deleteKey("A\\..")); // no path magic
}

TEST_F(StoreTest, HandleOfDeletedKeyFailsCleanly)
{
    auto key = root->createKey("Gone\\Child");
    ASSERT_TRUE(WriteString(*key, "v", "x"));
    auto second = openSecond();
    ASSERT_TRUE(second->root()->deleteTree("Gone"));

    // A new key must not take over the old handle.
    ASSERT_TRUE(root->createKey("Gone\\Child"));
    ASSERT_TRUE(root->createKey("Other"));

    ConfigValue v;
    std::string name;
    EXPECT_FALSE(key->setValue("v", ValueType::String, "y"));
    EXPECT_NE(store->lastError().find("deleted"), std::string::npos);
    EXPECT_FALSE(key->queryValue("v", v));
    EXPECT_FALSE(key->enumValue(0, v));
    EXPECT_FALSE(key->enumKey(0, name));
    EXPECT_EQ(key->countValues(), 0u);
    EXPECT_FALSE(key->createKey("Sub"));
    EXPECT_FALSE(key->openKey(""));
    EXPECT_FALSE(key->deleteValue("v"));
    EXPECT_EQ(root->openKey("Gone\\Child")->countValues(), 0u);
}

TEST_F(StoreTest, QuerySizeLimitsAndTypedHelpers)
{
    auto key = root->createKey("Sizes");
    ASSERT_TRUE(WriteString(*key, "s", "abc"));
    ASSERT_TRUE(WriteBinary32(*key, "bin", 0x01020304));
    ASSERT_TRUE(WriteDword(*key, "num", 80));
    ASSERT_TRUE(key->setValue("short", ValueType::Binary, std::string("\x05\x01", 2)));
    ASSERT_TRUE(key->setValue("long", ValueType::Binary, std::string(5, '\x01')));
    ASSERT_TRUE(WriteString(*key, "259", std::string(259, 'x')));
    ASSERT_TRUE(WriteString(*key, "260", std::string(260, 'x')));
    ASSERT_TRUE(key->setValue("empty", ValueType::Binary, ""));

    ConfigValue v;
    EXPECT_FALSE(key->queryValue("s", v, 3)); // the terminating zero counts
    ASSERT_TRUE(key->queryValue("s", v, 4));
    EXPECT_EQ(v.data, "abc");
    EXPECT_TRUE(key->queryValue("bin", v, 4));
    EXPECT_FALSE(key->queryValue("bin", v, 3));
    EXPECT_FALSE(key->queryValue("missing", v));
    ASSERT_TRUE(key->queryValue("empty", v, 0));
    EXPECT_EQ(v.type, ValueType::Binary);
    EXPECT_TRUE(v.data.empty());

    std::string text = "kept";
    EXPECT_TRUE(ReadString(*key, "259", text));
    EXPECT_EQ(text.size(), 259u);
    text = "kept";
    EXPECT_FALSE(ReadString(*key, "260", text));
    EXPECT_FALSE(ReadString(*key, "num", text)); // not a string
    EXPECT_FALSE(ReadString(*key, "missing", text));
    EXPECT_EQ(text, "kept");
    EXPECT_TRUE(ReadString(*key, "260", text, 260));

    uint32_t n = 99;
    EXPECT_TRUE(ReadBinary32(*key, "bin", n));
    EXPECT_EQ(n, 0x01020304u);
    EXPECT_TRUE(ReadBinary32(*key, "short", n));
    EXPECT_EQ(n, 0x0105u);
    n = 99;
    EXPECT_FALSE(ReadBinary32(*key, "num", n)); // a dword is not binary
    EXPECT_FALSE(ReadBinary32(*key, "long", n));
    EXPECT_FALSE(ReadBinary32(*key, "s", n));
    EXPECT_EQ(n, 99u);

    EXPECT_TRUE(ReadDword(*key, "num", n));
    EXPECT_EQ(n, 80u);
    EXPECT_TRUE(ReadDword(*key, "bin", n));
    EXPECT_EQ(n, 0x01020304u);
    n = 99;
    EXPECT_FALSE(ReadDword(*key, "short", n));
    EXPECT_FALSE(ReadDword(*key, "s", n));
    EXPECT_EQ(n, 99u);

    ConfigValue odd{"x", ValueType::Binary, "\x01\x02"};
    EXPECT_EQ(odd.dword(), 0u);
    ConfigValue text4{"x", ValueType::String, "abcd"};
    EXPECT_EQ(text4.dword(), 0u);
}

TEST_F(StoreTest, TransactionsCommitOrRollBack)
{
    auto key = root->createKey("Tx");
    EXPECT_FALSE(store->transaction([&] {
        WriteString(*key, "a", "1");
        root->createKey("Tx\\Sub\\Deep");
        return false;
    }));
    EXPECT_EQ(key->countValues() + key->countKeys(), 0u);

    // Inner transactions run inside the outer one; the outer decides.
    EXPECT_FALSE(store->transaction([&] {
        EXPECT_TRUE(store->transaction([&] { return WriteString(*key, "inner", "1"); }));
        return false;
    }));
    EXPECT_EQ(key->countValues(), 0u);

    EXPECT_TRUE(store->transaction([&] {
        return store->transaction([&] { return WriteString(*key, "inner", "1"); })
               && WriteString(*key, "outer", "2");
    }));
    EXPECT_EQ(valueNames(*key), (Names{"inner", "outer"}));

    // A throwing callback leaves no transaction behind.
    EXPECT_THROW(store->transaction([&]() -> bool {
        WriteString(*key, "thrown", "1");
        throw std::runtime_error("x");
    }),
                 std::runtime_error);
    EXPECT_EQ(key->countValues(), 2u);
    EXPECT_TRUE(WriteString(*key, "after", "3"));
    EXPECT_EQ(openSecond()->root()->openKey("Tx")->countValues(), 3u);
}

TEST_F(StoreTest, GenerationChangesOnEveryCommit)
{
    auto second = openSecond();
    uint64_t g0 = store->generation();
    EXPECT_EQ(store->generation(), g0);
    auto key = root->createKey("Gen");
    uint64_t g1 = store->generation();
    EXPECT_NE(g1, g0);
    EXPECT_EQ(store->generation(), g1);

    uint64_t other0 = second->generation();
    ASSERT_TRUE(WriteDword(*key, "v", 1));
    uint64_t g2 = store->generation();
    EXPECT_NE(g2, g1);
    uint64_t other1 = second->generation();
    EXPECT_NE(other1, other0);

    // Another connection's commit.
    ASSERT_TRUE(WriteDword(*second->root()->openKey("Gen"), "v", 2));
    EXPECT_NE(store->generation(), g2);
    EXPECT_EQ(second->generation(), second->generation());

    // Reads alone change nothing, nor does "creating" a key that exists.
    uint64_t g3 = store->generation();
    uint32_t n = 0;
    EXPECT_TRUE(ReadDword(*key, "v", n));
    EXPECT_EQ(n, 2u);
    EXPECT_TRUE(root->createKey("GEN"));
    EXPECT_EQ(store->generation(), g3);
}

TEST_F(StoreTest, KeysOutliveTheStoreAndDataPersists)
{
    auto key = root->createKey("Persist");
    store.reset();
    root.reset();
    ASSERT_TRUE(WriteString(*key, "name", "value"));
    key.reset();

    std::string error;
    auto reopened = OpenSqliteStore(dir.file("registry.db"), &error);
    ASSERT_TRUE(reopened) << error;
    std::string text;
    ASSERT_TRUE(ReadString(*reopened->root()->openKey("Persist"), "name", text));
    EXPECT_EQ(text, "value");
}

TEST(StoreOpen, FailuresAreReported)
{
    TempDir dir;
    std::string error;
    EXPECT_FALSE(OpenSqliteStore(dir.file(""), &error)); // a directory
    EXPECT_NE(error.find("cannot open configuration store"), std::string::npos) << error;

    std::ofstream(dir.file("junk.db"))
        << "this is not a database, but it is long enough to look like a header";
    error.clear();
    EXPECT_FALSE(OpenSqliteStore(dir.file("junk.db"), &error));
    EXPECT_NE(error.find("junk.db"), std::string::npos) << error;

    // Missing parent directories are created.
    error.clear();
    EXPECT_TRUE(OpenSqliteStore(dir.file("a/b/registry.db"), &error)) << error;

    error.clear();
    EXPECT_FALSE(ConnectRemoteStore("server1", &error));
    EXPECT_EQ(error, "remote configuration stores are not supported");
}

TEST(StoreOpen, DefaultPathFollowsEnvironment)
{
    TempDir dir;
    {
        ScopedEnv reg("NORVANE_REGISTRY", "/somewhere/reg.db");
        EXPECT_EQ(DefaultStorePath(), "/somewhere/reg.db");
    }
    ScopedEnv reg("NORVANE_REGISTRY", nullptr);
    {
        ScopedEnv xdg("XDG_DATA_HOME", dir.file("data").c_str());
        EXPECT_EQ(DefaultStorePath(), dir.file("data/norvane/registry.db"));
        EXPECT_TRUE(fs::is_directory(dir.file("data/norvane")));
    }
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    ScopedEnv home("HOME", dir.file("home").c_str());
    EXPECT_EQ(DefaultStorePath(), dir.file("home/.local/share/norvane/registry.db"));
    EXPECT_TRUE(fs::is_directory(dir.file("home/.local/share/norvane")));
}

} // namespace
} // namespace sylvix
