#include "props/access/AccessStore.h"

#include "cli/RegFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace sylvix {
namespace {

using Names = std::vector<std::string>;

class AccessStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        store = OpenSqliteStore(dir / "registry.db");
        const std::string reg = test::readFile(std::string(SYLVIX_SOURCE_DIR)
                                               + "/tests/props/access/data/server.reg");
        std::string error;
        ASSERT_TRUE(store && ImportRegText(*store, reg, "server.reg", error)) << error;
        server = store->root()->openKey("Srv");
        ASSERT_TRUE(server);
        access = std::make_unique<AccessStore>(*store, *server);
    }

    // Everything below key as registry-file text, "" when it is missing.
    std::string dump(const std::string &key)
    {
        auto k = store->root()->openKey(key);
        std::string out, error;
        if (k) {
            EXPECT_TRUE(ExportRegText(*k, out, error)) << error;
        }
        return out;
    }

    test::TempDir dir;
    std::unique_ptr<ConfigStore> store;
    std::unique_ptr<ConfigKey> server;
    std::unique_ptr<AccessStore> access;
};

TEST(AccessTextRules, EntryFormsAndCoveringCandidateAndDeletablePaths)
{
    const std::pair<const char *, const char *> forms[] = {{"user alice", "alice"},
                                                           {"group staff", "[staff]"},
                                                           {"user o'brien smith", "o'brien smith"},
                                                           {"group ", "[]"}};
    for (const auto &[stored, shown] : forms) {
        EXPECT_EQ(ShownEntry(stored), shown) << stored;
        EXPECT_EQ(StoredEntry(shown), stored) << shown;
    }
    // Texts too short for their prefix do not read past their end.
    EXPECT_EQ(ShownEntry("user"), "");
    EXPECT_EQ(ShownEntry("grp"), "[]");
    EXPECT_EQ(StoredEntry("["), "group ");
    EXPECT_EQ(StoredEntry(""), "user ");

    // The prefix test is on the raw text: "/doc" covers "/docs/sub/" too.
    for (const char *path : {"/", "/docs/", "/doc", "/DOCS/sub/"})
        EXPECT_TRUE(CoversDir(path, "/docs/sub/")) << path;
    for (const char *path : {"", "/docs/sub/x/", "/other/", "docs"})
        EXPECT_FALSE(CoversDir(path, "/docs/sub/")) << path;

    EXPECT_EQ(CandidatePaths("/a/b/", {}), (Names{"/a/b", "/a"}));
    EXPECT_EQ(CandidatePaths("/a/b/", {"/a", "/a/b/"}), (Names{"/a/b"}));
    EXPECT_TRUE(CandidatePaths("/", {}).empty());

    for (const char *path : {"/", "/~joe/", "/~j", ""})
        EXPECT_FALSE(PathDeletable(path)) << path;
    for (const char *path : {"/staff/", "/~", "/a~b/", "/docs"})
        EXPECT_TRUE(PathDeletable(path)) << path;
}

TEST_F(AccessStoreTest, CreatePathWritesItsDefaults)
{
    ASSERT_TRUE(access->CreatePath("/docs", "Customers"));
    EXPECT_EQ(dump("Srv\\Access\\Basic\\/docs"),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_LOCAL_MACHINE\\Srv\\Access\\Basic\\/docs]\n"
              "\"Order\"=hex:01,00,00,00\n\n"
              "[HKEY_LOCAL_MACHINE\\Srv\\Access\\Basic\\/docs\\*deny]\n\n"
              "[HKEY_LOCAL_MACHINE\\Srv\\Access\\Basic\\/docs\\*allow]\n"
              "\"0001\"=\"all\"\n\n"
              "[HKEY_LOCAL_MACHINE\\Srv\\Access\\Basic\\/docs\\Customers]\n\n");

    // A path that exists already, or a name that would nest keys, changes nothing.
    const std::string before = dump("Srv");
    EXPECT_FALSE(access->CreatePath("/staff/", "Customers"));
    EXPECT_FALSE(access->CreatePath("", "Staff"));
    EXPECT_FALSE(access->CreatePath("/a\\b", "Staff"));
    EXPECT_FALSE(access->CreatePath("/x", "*allow"));
    EXPECT_EQ(dump("Srv"), before);
}

// How the page adds and removes entries is checked through the page; here
// what it does not reach.
TEST_F(AccessStoreTest, ClassListsAsTypedAndAGapKeepsItsEntries)
{
    ASSERT_TRUE(access->AddEntry("/open/", kDenyList, "10.0.0."));
    ASSERT_TRUE(access->AddEntry("/open/", kDenyList, "[literal]"));
    // Class entries are stored as typed, bracket or not.
    EXPECT_EQ(access->LoadPath("/open/")->deny, (Names{"10.0.0.", "[literal]"}));
    ASSERT_TRUE(access->RewriteList("/open/", kDenyList, {}));
    EXPECT_TRUE(access->LoadPath("/open/")->deny.empty());
    EXPECT_TRUE(store->root()->openKey("Srv\\Access\\Basic\\/open/\\*deny"));
    EXPECT_EQ(access->LoadPath("/open/")->order, std::nullopt); // none stored
    ASSERT_TRUE(access->SetOrder("/open/", kOrderAllowDeny));
    EXPECT_EQ(access->LoadPath("/open/")->order, kOrderAllowDeny);

    // A list left with a gap by another program keeps all of its entries.
    auto allow = store->root()->openKey("Srv\\Access\\Basic\\/staff/\\*allow");
    ASSERT_TRUE(WriteString(*allow, "0003", "example.org"));
    ASSERT_TRUE(access->AddEntry("/staff/", kAllowList, "10.1."));
    EXPECT_EQ(access->LoadPath("/staff/")->allow, (Names{"all", "example.org", "10.1."}));
}

TEST_F(AccessStoreTest, FailureMidwayLeavesTheOldState)
{
    // The steps each change goes through, each made to fail in turn.
    const std::pair<std::vector<const char *>, std::function<bool(AccessStore &)>> cases[] = {
        {{"order", "allow", "realm"},
         [](AccessStore &a) { return a.CreatePath("/new/", "Staff"); }},
        {{"*deny", "Staff", "path"},
         [](AccessStore &a) { return a.DeletePath("/staff/", "Staff"); }},
        {{"create list"},
         [](AccessStore &a) { return a.RewriteList("/staff/", "Staff", {"bob"}); }},
    };
    const std::string before = dump("Srv");
    for (const auto &[steps, change] : cases) {
        for (const std::string failAt : steps) {
            std::vector<std::string> seen;
            access->setStepCheck([&](std::string_view step) {
                seen.emplace_back(step);
                return step != failAt;
            });
            EXPECT_FALSE(change(*access)) << failAt;
            EXPECT_EQ(seen.back(), failAt) << "the step was never reached";
            EXPECT_EQ(dump("Srv"), before) << failAt;
        }
    }
    // A path with a subkey the program does not know stays whole.
    access->setStepCheck(nullptr);
    ASSERT_TRUE(store->root()->createKey("Srv\\Access\\Basic\\/staff/\\Other\\Deeper"));
    const std::string withOther = dump("Srv");
    EXPECT_FALSE(access->DeletePath("/staff/", "Staff"));
    EXPECT_EQ(dump("Srv"), withOther);
}

TEST_F(AccessStoreTest, ChangesSkipAPathRemovedMeanwhile)
{
    // Another program drops /staff/ while the page still shows it.
    auto other = OpenSqliteStore(dir.file("registry.db"));
    ASSERT_TRUE(other && other->root()->deleteTree("Srv\\Access\\Basic\\/staff/"));
    const std::string before = dump("Srv");
    EXPECT_FALSE(access->SetOrder("/staff/", 0));
    EXPECT_FALSE(access->AddEntry("/staff/", kAllowList, "x"));
    EXPECT_FALSE(access->AddEntry("/staff/", "Staff", "bob"));
    EXPECT_FALSE(access->RewriteList("/staff/", "Staff", {"bob"}));
    EXPECT_FALSE(access->DeletePath("/staff/", "Staff"));
    EXPECT_EQ(dump("Srv"), before);
    EXPECT_EQ(access->ListProtectedPaths(), Names{"/open/"});
}

} // namespace
} // namespace sylvix
