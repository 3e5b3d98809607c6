#include "platform/ConfigStore.h"

#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace sylvix {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;
using test::TempDir;

// The typed readers and writers over a store's values.
TEST(StoreValues, QuerySizeLimitsAndTypedReads)
{
    TempDir dir;
    auto store = OpenSqliteStore(dir.file("registry.db"));
    ASSERT_TRUE(store);
    auto key = store->root()->createKey("Sizes");
    ASSERT_TRUE(WriteString(*key, "s", "abc") && WriteBinary32(*key, "bin", 0x01020304)
                && WriteDword(*key, "num", 80)
                && key->setValue("short", ValueType::Binary, std::string("\x05\x01", 2))
                && key->setValue("long", ValueType::Binary, std::string(5, '\x01'))
                && WriteString(*key, "259", std::string(259, 'x'))
                && WriteString(*key, "260", std::string(260, 'x')));

    // Strings count their terminating zero; a failed read leaves the output alone.
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
