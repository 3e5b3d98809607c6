#include "platform/ConfigStore.h"

#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

namespace sylvix {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

using test::ScopedEnv;
using test::TempDir;

class StoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        store = openSecond();
        ASSERT_TRUE(store);
        root = store->root();
    }

    // Another connection to the same file.
    std::unique_ptr<ConfigStore> openSecond()
    {
        std::string error;
        auto second = OpenSqliteStore(dir.file("registry.db"), &error);
        EXPECT_TRUE(second) << error;
        return second;
    }

    // The names of the values (or of the subkeys), in enumeration order.
    static Names names(ConfigKey &key, bool ofKeys = false)
    {
        Names names;
        ConfigValue v;
        for (uint32_t i = 0; ofKeys ? key.enumKey(i, v.name) : key.enumValue(i, v); ++i)
            names.push_back(v.name);
        return names;
    }

    TempDir dir;
    std::unique_ptr<ConfigStore> store;
    std::unique_ptr<ConfigKey> root;
};

TEST_F(StoreTest, NamesIgnoreCaseButKeepIt)
{
    auto key = root->createKey("Software\\Tavrin\\WebServer");
    ASSERT_TRUE(key);
    auto again = root->createKey("SOFTWARE\\tavrin\\WEBSERVER\\CurrentVersion");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->path(), "Software\\Tavrin\\WebServer\\CurrentVersion");
    EXPECT_EQ(again->name(), "CurrentVersion");
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
    EXPECT_EQ(names(*key, true), (Names{"zeta", "Alpha", "mid"}));
    EXPECT_EQ(names(*key), (Names{"c", "A", "b", "d"}));

    // Overwriting keeps the place, also with a new type; a deleted and
    // re-added value goes to the end.
    ASSERT_TRUE(WriteDword(*key, "a", 7));
    ASSERT_TRUE(key->deleteValue("c"));
    ASSERT_TRUE(WriteString(*key, "C", "again"));
    EXPECT_EQ(names(*key), (Names{"A", "b", "d", "C"}));
    ConfigValue v;
    ASSERT_TRUE(key->enumValue(0, v));
    EXPECT_EQ(v.type, ValueType::Dword);
    EXPECT_EQ(v.dword(), 7u);

    // Indexes are read afresh on every call: another connection's delete shows.
    auto other = openSecond()->root()->openKey("order");
    ASSERT_TRUE(other && other->deleteValue("b"));
    ASSERT_TRUE(key->enumValue(1, v));
    EXPECT_EQ(v.name, "d");
    EXPECT_FALSE(key->enumValue(3, v));
}

TEST_F(StoreTest, PathsAndDeletion)
{
    // Only "\" separates: a protected URL path is one key name.
    auto path = root->createKey("Access\\Basic\\/docs/private/");
    ASSERT_TRUE(path);
    EXPECT_EQ(names(*root->openKey("Access\\Basic"), true), (Names{"/docs/private/"}));
    EXPECT_EQ(path->openKey("")->path(), path->path()); // an empty path is the key itself
    for (const char *bad : {"a\\\\b", "\\a", "a\\"}) {
        EXPECT_FALSE(root->createKey(bad)) << bad;
        EXPECT_FALSE(root->openKey(bad)) << bad;
    }
    EXPECT_FALSE(root->openKey("Access\\Missing"));
    EXPECT_NE(store->lastError().find("not found"), std::string::npos);

    auto b = root->createKey("A\\B");
    ASSERT_TRUE(WriteString(*root->createKey("A\\B\\C"), "v", "x"));
    EXPECT_FALSE(root->deleteKey("A\\B")); // has a subkey
    EXPECT_FALSE(root->deleteKey("A\\Missing"));
    ASSERT_TRUE(b->deleteKey("C"));
    EXPECT_EQ(root->createKey("A\\B\\C")->countValues(), 0u); // its values went with it

    ASSERT_TRUE(root->createKey("A\\B\\C\\D"));
    ASSERT_TRUE(root->deleteTree("a\\b"));
    EXPECT_EQ(names(*root->openKey("A"), true), Names{});
    EXPECT_FALSE(root->deleteTree("A\\B"));
    // An empty path empties the key and keeps it.
    auto top = root->openKey("A");
    ASSERT_TRUE(WriteString(*top, "v", "x") && top->createKey("X\\Y"));
    ASSERT_TRUE(top->deleteTree(""));
    EXPECT_TRUE(root->openKey("A"));
    EXPECT_EQ(top->countValues() + top->countKeys(), 0u);
    EXPECT_FALSE(root->deleteKey("A\\..")); // no path magic
}

TEST_F(StoreTest, HandleOfDeletedKeyFailsCleanly)
{
    auto key = root->createKey("Gone\\Child");
    ASSERT_TRUE(WriteString(*key, "v", "x"));
    ASSERT_TRUE(openSecond()->root()->deleteTree("Gone"));
    // A new key of the same name must not take over the old handle.
    ASSERT_TRUE(root->createKey("Gone\\Child"));

    ConfigValue v;
    std::string name;
    EXPECT_FALSE(key->setValue("v", ValueType::String, "y"));
    EXPECT_NE(store->lastError().find("deleted"), std::string::npos);
    EXPECT_FALSE(key->queryValue("v", v) || key->enumValue(0, v) || key->enumKey(0, name)
                 || key->createKey("Sub") || key->openKey("") || key->deleteValue("v"));
    EXPECT_EQ(key->countValues(), 0u);
    EXPECT_EQ(root->openKey("Gone\\Child")->countValues(), 0u);
}

TEST_F(StoreTest, QuerySizeLimitsAndTypedReads)
{
    auto key = root->createKey("Sizes");
    ASSERT_TRUE(WriteString(*key, "s", "abc") && WriteBinary32(*key, "bin", 0x01020304)
                && WriteDword(*key, "num", 80)
                && key->setValue("short", ValueType::Binary, std::string("\x05\x01", 2))
                && key->setValue("long", ValueType::Binary, std::string(5, '\x01'))
                && WriteString(*key, "259", std::string(259, 'x'))
                && WriteString(*key, "260", std::string(260, 'x'))
                && key->setValue("empty", ValueType::Binary, ""));

    // Strings count their terminating zero.
    const struct
    {
        const char *name;
        size_t max;
        bool ok;
    } queries[] = {{"s", 3, false},   {"s", 4, true},     {"bin", 4, true},
                   {"bin", 3, false}, {"empty", 0, true}, {"missing", SIZE_MAX, false}};
    for (const auto &c : queries) {
        ConfigValue v;
        EXPECT_EQ(key->queryValue(c.name, v, c.max), c.ok) << c.name << " " << c.max;
    }

    // A failed read leaves the output alone.
    const struct
    {
        const char *name;
        size_t max;
        bool ok;
    } strings[] = {{"259", 259, true},
                   {"260", 259, false},
                   {"260", 260, true},
                   {"num", 259, false},
                   {"missing", 259, false}};
    for (const auto &c : strings) {
        std::string text = "kept";
        EXPECT_EQ(ReadString(*key, c.name, text, c.max), c.ok) << c.name << " " << c.max;
        EXPECT_EQ(text, c.ok ? std::string(c.max, 'x') : "kept") << c.name;
    }

    using NumberReader = bool (*)(ConfigKey &, std::string_view, uint32_t &);
    const struct
    {
        NumberReader read;
        const char *name;
        bool ok;
        uint32_t value;
    } numbers[] = {{ReadBinary32, "bin", true, 0x01020304},
                   {ReadBinary32, "short", true, 0x0105},
                   {ReadBinary32, "num", false, 99},
                   {ReadBinary32, "long", false, 99},
                   {ReadBinary32, "s", false, 99},
                   {ReadDword, "num", true, 80},
                   {ReadDword, "bin", true, 0x01020304},
                   {ReadDword, "short", false, 99},
                   {ReadDword, "s", false, 99}};
    for (const auto &c : numbers) {
        uint32_t n = 99;
        EXPECT_EQ(c.read(*key, c.name, n), c.ok) << c.name;
        EXPECT_EQ(n, c.value) << c.name;
    }
}

// (A failed import's rollback is checked in RegFileTest.)
TEST_F(StoreTest, TransactionsNestAndSurviveExceptions)
{
    auto key = root->createKey("Tx");
    // Inner transactions run inside the outer one; the outer decides.
    EXPECT_FALSE(store->transaction([&] {
        EXPECT_TRUE(store->transaction(
            [&] { return WriteString(*key, "inner", "1") && key->createKey("Sub"); }));
        return false;
    }));
    EXPECT_EQ(key->countValues() + key->countKeys(), 0u);
    EXPECT_TRUE(store->transaction([&] {
        return store->transaction([&] { return WriteString(*key, "inner", "1"); })
               && WriteString(*key, "outer", "2");
    }));
    // A throwing callback leaves no transaction behind.
    EXPECT_THROW(store->transaction([&]() -> bool {
        WriteString(*key, "thrown", "1");
        throw std::runtime_error("x");
    }),
                 std::runtime_error);
    EXPECT_TRUE(WriteString(*key, "after", "3"));
    EXPECT_EQ(names(*openSecond()->root()->openKey("Tx")), (Names{"inner", "outer", "after"}));
}

TEST_F(StoreTest, GenerationChangesOnEveryCommit)
{
    auto second = openSecond();
    const uint64_t g0 = store->generation();
    auto key = root->createKey("Gen");
    const uint64_t g1 = store->generation();
    EXPECT_NE(g1, g0);
    EXPECT_EQ(store->generation(), g1);

    const uint64_t other = second->generation();
    ASSERT_TRUE(WriteDword(*key, "v", 1));
    const uint64_t g2 = store->generation();
    EXPECT_NE(g2, g1);
    EXPECT_NE(second->generation(), other);

    // Another connection's commit.
    ASSERT_TRUE(WriteDword(*second->root()->openKey("Gen"), "v", 2));
    EXPECT_NE(store->generation(), g2);

    // Reads alone change nothing, nor does "creating" a key that exists.
    const uint64_t g3 = store->generation();
    uint32_t n = 0;
    EXPECT_TRUE(ReadDword(*key, "v", n));
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
    std::string text;
    ASSERT_TRUE(ReadString(*openSecond()->root()->openKey("Persist"), "name", text));
    EXPECT_EQ(text, "value");
}

TEST(StoreOpen, FailuresAndDefaultPath)
{
    TempDir dir;
    std::string error;
    EXPECT_FALSE(OpenSqliteStore(dir.file(""), &error)); // a directory
    EXPECT_NE(error.find("cannot open configuration store"), std::string::npos) << error;
    std::ofstream(dir.file("junk.db"))
        << "this is not a database, but it is long enough to look like a header";
    EXPECT_FALSE(OpenSqliteStore(dir.file("junk.db"), &error));
    EXPECT_NE(error.find("junk.db"), std::string::npos) << error;
    EXPECT_TRUE(OpenSqliteStore(dir.file("a/b/registry.db"), &error)) << error; // parents are made

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
