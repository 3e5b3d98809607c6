#include "model/AccessLog.h"
#include "model/Config.h"
#include "model/SiteNode.h"
#include "platform/ConfigStore.h"
#include "props/CNodePropActivity.h"
#include "props/CNodePropDgnostics.h"
#include "props/PropertyRules.h"
#include "props/TabbedList.h"
#include "tests/app/DemoStore.h"
#include "tests/support/GuiTest.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <ctime>
#include <filesystem>
#include <future>
#include <limits>
#include <tuple>

using namespace sylvix;
using namespace sylvix::test;
using namespace std::string_literals;

namespace {

// A lone node, freed at the end of the scope.
using Node = std::unique_ptr<SiteNode, void (*)(SiteNode *)>;
Node makeNode(uint32_t flags = 0, uint32_t kind = Html)
{
    Node n(CreateNode(), FreeNode);
    n->flags = flags;
    n->kind = uint8_t(kind);
    return n;
}

} // namespace

// The page opens on the last filter and answers while its deferred check is
// held up; once the check is done it lists what the filter lets through.
TEST(DiagnosticsPage, FiltersBySeverityRemembersTheChoiceAndFillsWhenTheCheckIsDone)
{
    diagnosticsFilter = 1;
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    Node n = makeNode();
    n->diagnostics = Diagnostics::onFirstRead([open]() -> std::optional<Diagnostics::List> {
        open.wait();
        return std::make_shared<const DiagnosticList>(
            DiagnosticList{{"info", 0, 9}, {"odd", 3, 5}, {"err", 2, 2}, {"warn", 1, 3}});
    });
    CNodePropDgnostics page(n.get());
    QSignalSpy filled(&page, &CNodePropDgnostics::filled);
    page.show();
    EXPECT_EQ(std::tuple(page.filter()->currentIndex(), child(&page, "textChecking")->isVisible(),
                         page.list()->count()),
              std::tuple(1, true, 0));
    QTest::keyClick(page.filter(), Qt::Key_Down);
    gate.set_value();
    ASSERT_TRUE(filled.wait(10000));
    EXPECT_FALSE(child(&page, "textChecking")->isVisible());
    EXPECT_EQ(page.list()->lines(),
              (QStringList{QStringLiteral("5\t!\todd"), QStringLiteral("2\tE\terr")}));
    QTest::keyClick(page.filter(), Qt::Key_Home);
    EXPECT_EQ(page.list()->lines(),
              (QStringList{QStringLiteral("9\tI\tinfo"), QStringLiteral("5\t!\todd"),
                           QStringLiteral("2\tE\terr"), QStringLiteral("3\tW\twarn")}));
    EXPECT_EQ(diagnosticsFilter, 0); // for the next page
}

// A read that a later day count made stale is dropped; typing is read once,
// after the keys stop.
TEST(ActivityPage, ListsTheDemoLogForTheLatestDayCount)
{
    DemoStore demo;
    std::filesystem::copy_file(std::string(SYLVIX_SOURCE_DIR) + "/examples/logs/access.log",
                               demo.logDir() + "/access.log");
    demo.use();
    Node n = makeNode();
    n->localPath = SharedStr(demo.page("index.html"));
    n->href = "http://localhost/";
    activityDays = 100000;
    QStringList all;
    for (const LogRecord &r : ReadAccessLog("/", 99999))
        all.append(QString::fromStdString(ActivityLine(r)));
    ASSERT_FALSE(all.isEmpty());
    CNodePropActivity page(n.get());
    QSignalSpy refilled(&page, &CNodePropActivity::refilled);
    page.show();                               // starts a read for 100000 days...
    page.days()->setText(QStringLiteral("0")); // ...which this makes stale
    ASSERT_TRUE(refilled.wait(10000));
    EXPECT_EQ(std::pair(refilled.count(), page.list()->count()), std::pair(qsizetype(1), 0));

    page.days()->selectAll();
    QTest::keyClicks(page.days(), QStringLiteral("99999x"));
    refilled.clear();
    ASSERT_TRUE(refilled.wait(10000));
    EXPECT_EQ(page.list()->lines(), all);
    QTest::qWait(2 * CNodePropActivity::kDebounceMs);
    EXPECT_EQ(refilled.count(), 1);
    activityDays = 1;
}

TEST(PropertyRules, PageSetFirstPageAndCaption)
{
    const struct
    {
        uint32_t flags, kind;
        int selector;
        SheetPages want; // access, diagnostics, activity, first
    } cases[] = {
        // External: General, plus Diagnostics for HTML.
        {EXTERNAL, Html, PageDiagnostics, {false, true, false, 1}},
        // Local, not HTML: General, Access Control, Activity.
        {0, Image, PageActivity, {true, false, true, 2}},
        // Local HTML: all four.
        {0, Html, PageActivity, {true, true, true, 3}},
        {0, Html, PageDiagnostics, {true, true, true, 2}},
        {VIRTUAL | BROKEN, Html, PageAccess, {true, true, true, 1}},
        // A page the node lacks opens General.
        {EXTERNAL, Image, PageActivity, {false, false, false, 0}},
        {EXTERNAL, Html, PageAccess, {false, true, false, 0}},
    };
    for (const auto &[flags, kind, selector, w] : cases) {
        const SheetPages p = PagesFor(*makeNode(flags, kind), selector);
        EXPECT_EQ(std::tie(p.access, p.diagnostics, p.activity, p.first),
                  std::tie(w.access, w.diagnostics, w.activity, w.first))
            << "flags " << flags << " kind " << kind << " selector " << selector;
    }

    // The caption's form shows on the sheet; here only its cut.
    EXPECT_EQ(PropertiesCaption(std::string(400, 'a')).size(), 255u);
}

// Every text of the General page in one line, so that a case checks them all.
static std::string Joined(const GeneralTexts &t)
{
    return t.label + '|' + t.hyperlink + '|' + t.url + '|' + t.fileName + '|' + t.contentType + '|'
           + t.size + '|' + t.modified + '|' + t.title;
}

TEST(PropertyRules, GeneralTexts)
{
    const std::pair<int64_t, const char *> sizes[]
        = {{0, ""}, {1, "1"}, {1000, "1"}, {1001, "2"}, {2500000, "2500"}, {5000000000, "5000000"}};
    for (const auto &[size, text] : sizes)
        EXPECT_EQ(SizeText(size), text) << size;

    ScopedEnv tz("TZ", "UTC");
    tzset();
    EXPECT_EQ(ModifiedText(std::numeric_limits<time_t>::max()), "");

    Node n = makeNode();
    n->href = "docs/a.html";
    n->url = "http://h/a";
    n->localPath = "/srv/docs/a.html";
    n->mimeType = "text/html";
    n->title = "A";
    n->stat.size = 1001;
    n->stat.mtime = 802015509;
    const std::string link = "docs/a.html|http://h/a|";
    const std::pair<uint32_t, std::string> cases[] = {
        {0, link + "/srv/docs/a.html|text/html|2|Thu Jun 01 14:05:09 1995|A"},
        // A broken local link: its file name only.
        {BROKEN, link + "/srv/docs/a.html||||"},
        {BROKEN | EXTERNAL, link + "||||"},
        {NOTVER, link + "||||"},
    };
    for (const auto &[flags, texts] : cases) {
        n->flags = flags;
        EXPECT_EQ(Joined(MakeGeneralTexts(*n)), "(none)|" + texts) << flags;
    }
}

TEST(PropertyRules, DiagnosticAndActivityLinesAndDayCount)
{
    // The letters and the line's form show on the Diagnostics page.
    EXPECT_EQ(DiagnosticLine({std::string(5000, 'x'), 2, 1}).size(), 4095u);
    EXPECT_EQ(ActivityLine({"10.0.0.1", "01/Mar/2024:14:16:35", "200"}),
              "200\t01/Mar/2024:14:16:35\t10.0.0.1");
    EXPECT_EQ(ActivityLine({std::string(2000, 'c'), "t", "200"}).size(), 1023u);

    // Only the first 15 characters count.
    const std::pair<const char *, int> days[] = {{"  +12", 12},
                                                 {"-3", 0},
                                                 {"30days", 30},
                                                 {"abc", 0},
                                                 {"99999999999999", 2147483647},
                                                 {"0000000000000012", 1}};
    for (const auto &[text, count] : days)
        EXPECT_EQ(ParseDayCount(text), count) << '"' << text << '"';
}

TEST(PropertyRules, ActivityKey)
{
    const ServerPaths paths{"/srv/", "/srv/docs/", "index.html"};
    const struct
    {
        const char *localPath, *href;
        std::optional<std::string> key;
    } cases[] = {
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
    Node n = makeNode();
    for (const auto &c : cases) {
        n->localPath = c.localPath;
        n->href = c.href;
        EXPECT_EQ(ActivityKey(*n, paths), c.key) << c.localPath;
    }
    n->localPath = "/srv/docs/a.html";
    EXPECT_EQ(ActivityKey(*n, std::nullopt), std::nullopt);
}

// The server's key in the local store: the paths the Activity page reads, and
// the revision that the sheet raises after an access edit.
TEST(PropertyRules, ServerPathsAndRevNumber)
{
    TempDir dir;
    auto store = OpenSqliteStore(dir / "registry.db");
    auto key = store->root()->createKey(kServerKeyPath);
    ASSERT_TRUE(key);
    WriteString(*key, "ServerRoot", "C:\\srv -x");
    WriteString(*key->createKey("DocMap"), "/", "C:\\srv\\docs\\ more");
    WriteString(*key->createKey("DirIndex"), "IndexDoc", "default.htm extra");
    const std::optional<ServerPaths> paths = LocalServerPaths(store.get());
    ASSERT_TRUE(paths);
    EXPECT_EQ(std::tie(paths->serverRoot, paths->docRoot, paths->indexDoc),
              std::tuple("C:/srv"s, "C:/srv/docs/"s, "default.htm"s));

    ASSERT_TRUE(key->deleteValue("ServerRoot"));
    EXPECT_EQ(LocalServerPaths(store.get()), std::nullopt);
    EXPECT_EQ(LocalServerPaths(nullptr), std::nullopt); // no configuration open
    const struct
    {
        ValueType type;
        std::string before, after; // the same when it is not written
    } cases[] = {
        {ValueType::Binary, "\x01\x00\x00\x00"s, "\x02\x00\x00\x00"s},
        {ValueType::Binary, "\xff\x00\x01\x00"s, "\x00\x01\x01\x00"s},         // carry
        {ValueType::Binary, "\xff\xff\xff\xff"s, "\x00\x00\x00\x00"s},         // wrap
        {ValueType::Binary, "\xff\xff"s, "\x00\x00"s},                         // keeps its length
        {ValueType::Binary, "\x01\x01\x01\x01\x01"s, "\x01\x01\x01\x01\x01"s}, // too long
        {ValueType::Dword, "\x01\x00\x00\x00"s, "\x01\x00\x00\x00"s},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(key->setValue("RevNumber", c.type, c.before));
        EXPECT_EQ(RaiseRevNumber(*key), c.before != c.after) << c.before.size();
        ConfigValue v;
        ASSERT_TRUE(key->queryValue("RevNumber", v));
        EXPECT_EQ(v.data, c.after);
    }
    ASSERT_TRUE(key->deleteValue("RevNumber"));
    EXPECT_FALSE(RaiseRevNumber(*key));
    ConfigValue v;
    EXPECT_FALSE(key->queryValue("RevNumber", v)); // not made
}
