#include "props/PropertyRules.h"
#include "model/Config.h"
#include "model/SiteNode.h"
#include "platform/ConfigStore.h"
#include "tests/props/NodeHolder.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <limits>

using namespace sylvix;
using namespace sylvix::test;

TEST(PropertyRules, PageSetAndFirstPage)
{
    struct Case
    {
        uint32_t flags, kind;
        int selector;
        bool access, diagnostics, activity;
        int first;
    };
    const Case cases[] = {
        // External: General, plus Diagnostics for HTML.
        {EXTERNAL, Html, PageDiagnostics, false, true, false, 1},
        {EXTERNAL, Image, PageGeneral, false, false, false, 0},
        // Local, not HTML: General, Access Control, Activity.
        {0, Image, PageActivity, true, false, true, 2},
        // Local HTML: all four.
        {0, Html, PageActivity, true, true, true, 3},
        {0, Html, PageDiagnostics, true, true, true, 2},
        {VIRTUAL | BROKEN, Html, PageAccess, true, true, true, 1},
        // A page the node lacks opens General.
        {EXTERNAL, Image, PageActivity, false, false, false, 0},
        {EXTERNAL, Html, PageAccess, false, true, false, 0},
    };
    for (const Case &c : cases) {
        NodeHolder n;
        n->flags = c.flags;
        n->kind = c.kind;
        const SheetPages p = PagesFor(*n.node, c.selector);
        SCOPED_TRACE(testing::Message()
                     << "flags " << c.flags << " kind " << c.kind << " selector " << c.selector);
        EXPECT_EQ(p.access, c.access);
        EXPECT_EQ(p.diagnostics, c.diagnostics);
        EXPECT_EQ(p.activity, c.activity);
        EXPECT_EQ(p.first, c.first);
    }
}

TEST(PropertyRules, CaptionIsCutAt255Characters)
{
    EXPECT_EQ(PropertiesCaption("http://localhost/"), "Properties for http://localhost/");
    EXPECT_EQ(PropertiesCaption(std::string(400, 'a')).size(), 255u);
    // A multi-byte character across the cut goes whole.
    const std::string caption = PropertiesCaption(std::string(239, 'a') + "\xc3\xa9" + "b");
    EXPECT_EQ(caption.size(), 254u);
}

TEST(PropertyRules, RevNumberRaisedOnlyWhenBinary)
{
    TempDir dir;
    auto store = OpenSqliteStore(dir / "registry.db");
    ASSERT_TRUE(store);
    auto key = store->root()->createKey(kServerKeyPath);
    ASSERT_TRUE(key);
    struct Case
    {
        const char *what;
        ValueType type;
        std::string before;
        bool written;
        std::string after;
    };
    const Case cases[] = {
        {"four bytes", ValueType::Binary, std::string("\x01\x00\x00\x00", 4), true,
         std::string("\x02\x00\x00\x00", 4)},
        {"carry", ValueType::Binary, std::string("\xff\x00\x01\x00", 4), true,
         std::string("\x00\x01\x01\x00", 4)},
        {"wrap", ValueType::Binary, std::string("\xff\xff\xff\xff", 4), true,
         std::string("\x00\x00\x00\x00", 4)},
        {"two bytes keep their length", ValueType::Binary, std::string("\xff\xff", 2), true,
         std::string("\x00\x00", 2)},
        {"empty", ValueType::Binary, "", true, ""},
        {"too long", ValueType::Binary, std::string(5, '\x01'), false, std::string(5, '\x01')},
        {"number type", ValueType::Dword, std::string("\x01\x00\x00\x00", 4), false,
         std::string("\x01\x00\x00\x00", 4)},
        {"text", ValueType::String, "7", false, "7"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(key->setValue("RevNumber", c.type, c.before));
        EXPECT_EQ(RaiseRevNumber(*key), c.written);
        ConfigValue v;
        ASSERT_TRUE(key->queryValue("RevNumber", v));
        EXPECT_EQ(v.type, c.type);
        EXPECT_EQ(v.data, c.after);
    }
    ASSERT_TRUE(key->deleteValue("RevNumber"));
    EXPECT_FALSE(RaiseRevNumber(*key));
    ConfigValue v;
    EXPECT_FALSE(key->queryValue("RevNumber", v)); // not made
}

TEST(PropertyRules, GeneralTexts)
{
    const std::pair<int64_t, const char *> sizes[]
        = {{0, ""}, {1, "1"}, {1000, "1"}, {1001, "2"}, {2500000, "2500"}, {5000000000, "5000000"}};
    for (const auto &[size, text] : sizes)
        EXPECT_EQ(SizeText(size), text) << size;

    ScopedEnv tz("TZ", "UTC");
    tzset();
    EXPECT_EQ(ModifiedText(802015509), "Thu Jun 01 14:05:09 1995");
    EXPECT_EQ(ModifiedText(std::numeric_limits<time_t>::max()), "");

    NodeHolder n;
    n->href = "docs/a.html";
    n->url = "http://localhost/docs/a.html";
    n->localPath = "/srv/docs/a.html";
    n->mimeType = "text/html";
    n->title = "A";
    n->stat.size = 1001;
    n->stat.mtime = 802015509;
    GeneralTexts t = MakeGeneralTexts(*n.node);
    EXPECT_EQ(t.label, "(none)");
    EXPECT_EQ(t.hyperlink, "docs/a.html");
    EXPECT_EQ(t.url, "http://localhost/docs/a.html");
    EXPECT_EQ(t.fileName, "/srv/docs/a.html");
    EXPECT_EQ(t.contentType, "text/html");
    EXPECT_EQ(t.size, "2");
    EXPECT_EQ(t.modified, "Thu Jun 01 14:05:09 1995");
    EXPECT_EQ(t.title, "A");

    n->label = "Home";
    n->flags = BROKEN; // a broken local link: its file name only
    t = MakeGeneralTexts(*n.node);
    EXPECT_EQ(t.label, "Home");
    EXPECT_EQ(t.fileName, "/srv/docs/a.html");
    EXPECT_EQ(t.size + t.contentType + t.modified + t.title, "");

    for (uint32_t flags :
         {uint32_t(BROKEN | EXTERNAL), uint32_t(NOTVER), uint32_t(NOTVER | EXTERNAL)}) {
        n->flags = flags;
        t = MakeGeneralTexts(*n.node);
        EXPECT_EQ(t.fileName + t.size + t.contentType + t.modified + t.title, "") << flags;
        EXPECT_EQ(t.hyperlink, "docs/a.html");
    }
}

TEST(PropertyRules, DiagnosticAndActivityLines)
{
    const std::pair<int32_t, char> letters[] = {{0, 'I'}, {1, 'W'}, {2, 'E'}, {3, '!'}, {-1, '!'}};
    for (const auto &[level, letter] : letters)
        EXPECT_EQ(SeverityLetter(level), letter) << level;
    EXPECT_EQ(DiagnosticLine({"missing </p>", 1, 12}), "12\tW\tmissing </p>");
    EXPECT_EQ(DiagnosticLine({std::string(5000, 'x'), 2, 1}).size(), 4095u);
    EXPECT_EQ(ActivityLine({"10.0.0.1", "01/Mar/2024:14:16:35", "200"}),
              "200\t01/Mar/2024:14:16:35\t10.0.0.1");
    EXPECT_EQ(ActivityLine({std::string(2000, 'c'), "t", "200"}).size(), 1023u);
}

TEST(PropertyRules, DayCount)
{
    const std::pair<const char *, int> cases[] = {
        {"", 0},
        {"7", 7},
        {"  12", 12},
        {"+5", 5},
        {"-3", 0},
        {"30days", 30},
        {"abc", 0},
        {"99999999999999", 2147483647},
        // Only the first 15 characters count.
        {"0000000000000012", 1},
    };
    for (const auto &[text, days] : cases)
        EXPECT_EQ(ParseDayCount(text), days) << '"' << text << '"';
}

TEST(PropertyRules, ActivityKey)
{
    const ServerPaths paths{"/srv/", "/srv/docs/", "index.html"};
    struct Case
    {
        const char *localPath, *href;
        std::optional<std::string> key;
    };
    const Case cases[] = {
        {"/srv/docs/a/b.html", "http://localhost/a/b.html", "/a/b.html"},
        {"/srv/docs/a/index.html", "http://localhost/a/", "/a/"},
        {"/srv/docs/a/b.html", "#top", "/a/b.html"},
        {"/srv/docs/a/b.html", "../a/b.html", "/a/b.html"},
        // A server path or a plain relative name is searched as written.
        {"/srv/docs/a/b.html", "/a/b.html", "/a/b.html"},
        {"/srv/docs/a/b.html", "b.html", "b.html"},
        // Outside the server root: no key, the list stays as it is.
        {"/elsewhere/b.html", "http://localhost/b.html", std::nullopt},
        // Below the root but not the document folder: from the root's slash.
        {"/srv/cgi-bin/run.sh", "http://localhost/cgi-bin/run.sh", "/cgi-bin/run.sh"},
        {"\\srv\\docs\\w.html", "http://localhost/w.html", "/w.html"},
        // No local file (a broken local link): the hyperlink.
        {"", "/missing.html", "/missing.html"},
    };
    for (const Case &c : cases) {
        NodeHolder n;
        if (*c.localPath)
            n->localPath = c.localPath;
        n->href = c.href;
        SCOPED_TRACE(c.localPath);
        EXPECT_EQ(ActivityKey(*n.node, paths), c.key);
    }
    NodeHolder n;
    n->localPath = "/srv/docs/a.html";
    n->href = "http://localhost/a.html";
    EXPECT_EQ(ActivityKey(*n.node, std::nullopt), std::nullopt);
}

TEST(PropertyRules, ServerPathsComeFromTheLocalStore)
{
    TempDir dir;
    auto makeStore = [&](const std::string &name, const std::string &root) {
        auto store = OpenSqliteStore(dir / name);
        auto key = store->root()->createKey(kServerKeyPath);
        WriteString(*key, "ServerRoot", root + " -x");
        WriteString(*key->createKey("DocMap"), "/", root + "\\docs\\ more");
        WriteString(*key->createKey("DirIndex"), "IndexDoc", "default.htm extra");
        return store;
    };
    // Under -r the server's store is the remote one; these values are not.
    UseStores(makeStore("local.db", "C:\\srv"), makeStore("remote.db", "/remote"));
    const std::optional<ServerPaths> paths = LocalServerPaths(LocalStore());
    ASSERT_TRUE(paths);
    EXPECT_EQ(paths->serverRoot, "C:/srv");
    EXPECT_EQ(paths->docRoot, "C:/srv/docs/");
    EXPECT_EQ(paths->indexDoc, "default.htm");
    NodeHolder n;
    n->localPath = "C:\\srv\\docs\\sub\\default.htm";
    n->href = "http://host/sub/";
    EXPECT_EQ(ActivityKey(*n.node, paths), "/sub/");

    auto bare = OpenSqliteStore(dir / "bare.db");
    bare->root()->createKey(kServerKeyPath);
    EXPECT_EQ(LocalServerPaths(bare.get()), std::nullopt);
    EXPECT_EQ(LocalServerPaths(nullptr), std::nullopt);
    CloseConfiguration();
}
