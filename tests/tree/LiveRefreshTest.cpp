// Tree windows over a copy of the demo site that the tests may change: saved
// pages refresh every window, rows go with their nodes, and a second window
// leaves nothing behind.

#include "app/AppState.h"
#include "cli/RegFile.h"
#include "model/SiteNode.h"
#include "platform/ConfigStore.h"
#include "tests/app/AppFixture.h"
#include "tests/support/ScriptServer.h"
#include "tree/TreeRowModel.h"
#include "tree/ViewRow.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace sylvix;
using namespace sylvix::test;
namespace fs = std::filesystem;

namespace {

// The demo's server and documents copied to a temporary folder.
class SiteCopy
{
public:
    SiteCopy()
    {
        std::string templ = (fs::temp_directory_path() / "sylvix-live-XXXXXX").string();
        m_dir = ::mkdtemp(templ.data());
        const fs::path examples = fs::path(SYLVIX_SOURCE_DIR) / "examples";
        fs::copy(examples, m_dir, fs::copy_options::recursive);
        std::ifstream in(examples / "demo-config.reg", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string reg = text.str();
        replaceAll(reg, "@SERVER_ROOT@", m_dir);
        replaceAll(reg, "@LOG_DIR@", m_dir + "/logs");
        auto store = OpenSqliteStore(m_dir + "/live.db");
        std::string error;
        EXPECT_TRUE(store && ImportRegText(*store, reg, "demo-config.reg", error)) << error;
    }
    ~SiteCopy()
    {
        CloseConfiguration();
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    void use() const { UseStores(OpenSqliteStore(m_dir + "/live.db")); }
    std::string page(const std::string &rel) const { return m_dir + "/demo-site/" + rel; }

    // Adds a link before the page's closing body tag, as an editor's save.
    void addLink(const std::string &rel, const std::string &href) const
    {
        std::ifstream in(page(rel), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string html = text.str();
        const std::string link = "<p><a href=\"" + href + "\">added</a></p>\n";
        const size_t end = html.rfind("</body>");
        html.insert(end == std::string::npos ? html.size() : end, link);
        std::ofstream(page(rel), std::ios::binary | std::ios::trunc) << html;
    }

private:
    static void replaceAll(std::string &s, const std::string &from, const std::string &to)
    {
        for (size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
            s.replace(pos, from.size(), to);
    }

    std::string m_dir;
};

bool endsWith(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

int rowIndex(CTreeListBox *list, const std::string &urlTail, int from = 0)
{
    for (int i = from; i < list->RowCount(); ++i)
        if (endsWith(list->RowAt(i)->node->url.str(), urlTail))
            return i;
    return -1;
}

bool hasChildEnding(SiteNode *node, const std::string &urlTail)
{
    for (SiteNode *c = node->firstChild(); c; c = c->nextSibling())
        if (endsWith(c->url.str(), urlTail))
            return true;
    return false;
}

// Every row is its node's row, and the rows below a row are one level deeper
// at most.
void expectRowsConsistent(CTreeListBox *list)
{
    for (int i = 0; i < list->RowCount(); ++i) {
        const CTreeRow *row = list->RowAt(i);
        EXPECT_EQ(row->node->viewItem, row) << i;
        EXPECT_EQ(list->FindRow(row), i);
        if (i > 0) {
            EXPECT_LE(row->level, list->RowAt(i - 1)->level + 1) << i;
        }
    }
}

constexpr int kRefreshWaitMs = 15000; // a watcher report, then the refresh, on a loaded machine

} // namespace

class LiveRefresh : public AppFixture
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        m_site.use();
        start();
    }
    void expandSelected() { trigger("actionTreeExpand"); }
    void select(int index) { list()->SelectRow(list()->RowAt(index)); }

    SiteCopy m_site;
};

TEST_F(LiveRefresh, ASavedPageRefreshesEveryWindowKeepingOpenRowsAndSelection)
{
    const std::vector<std::string> watched = view()->document()->watchedDirectories();
    ASSERT_FALSE(watched.empty());
    EXPECT_NE(std::find(watched.begin(), watched.end(), m_site.page("handbook")), watched.end());

    CListtestView *first = view();
    QAbstractItemModelTester tester(list()->rowModel(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    expandSelected();
    const int products = rowIndex(list(), "/products/");
    ASSERT_GT(products, 0);
    select(products);
    expandSelected();
    const int station = rowIndex(list(), "/products/station.html", products + 1);
    ASSERT_GT(station, products);
    select(station);
    expandSelected();
    ASSERT_TRUE(list()->RowAt(station)->expanded);

    trigger("actionWindowNew");
    CListtestView *second = view();
    ASSERT_NE(second, first);
    expandSelected();
    const int secondProducts = rowIndex(list(), "/products/");
    ASSERT_GT(secondProducts, 0);

    m_site.addLink("products/index.html", "fresh.html");
    CTreeListBox *firstList = first->treeList();
    auto freshRow = [&] { return rowIndex(firstList, "/products/fresh.html"); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return freshRow() > 0; }, kRefreshWaitMs));
    // The second window refreshed its own copy too.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const int i = rowIndex(list(), "/products/");
            return i > 0 && hasChildEnding(list()->RowAt(i)->node, "/products/fresh.html");
        },
        kRefreshWaitMs));
    EXPECT_EQ(first->outOfDate(), 0);
    EXPECT_EQ(second->outOfDate(), 0);

    // The open row is open again and the selection is where it was.
    const int productsAfter = rowIndex(firstList, "/products/");
    ASSERT_GT(productsAfter, 0);
    EXPECT_TRUE(firstList->RowAt(productsAfter)->expanded);
    ASSERT_TRUE(firstList->SelectedRow());
    EXPECT_TRUE(endsWith(firstList->SelectedRow()->node->url.str(), "/products/station.html"));
    EXPECT_TRUE(firstList->SelectedRow()->expanded); // a row below the re-read page
    EXPECT_EQ(firstList->RowAt(freshRow())->level, 2);
    expectRowsConsistent(firstList);
    expectRowsConsistent(list());
}

TEST_F(LiveRefresh, AMirroredPageRefreshesAfterItsSourceWasReRead)
{
    // The barometer page is linked from the home page and from the products
    // page: one of its nodes mirrors the other.
    expandSelected();
    const int products = rowIndex(list(), "/products/");
    ASSERT_GT(products, 0);
    select(products);
    expandSelected();
    int rows = 0;
    for (int i = 0; i < list()->RowCount(); ++i)
        rows += endsWith(list()->RowAt(i)->node->url.str(), "/products/barometer.html");
    ASSERT_GE(rows, 2);

    // Re-reading the products page frees its children, a source among them.
    m_site.addLink("products/index.html", "first.html");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rowIndex(list(), "/products/first.html") > 0; },
                                kRefreshWaitMs));
    m_site.addLink("products/barometer.html", "second.html");
    auto everyBarometerUpdated = [&] {
        int seen = 0;
        for (int i = 0; i < list()->RowCount(); ++i) {
            SiteNode *node = list()->RowAt(i)->node;
            if (!endsWith(node->url.str(), "/products/barometer.html"))
                continue;
            if (!hasChildEnding(node, "/products/second.html"))
                return false;
            ++seen;
        }
        return seen >= 2;
    };
    ASSERT_TRUE(QTest::qWaitFor(everyBarometerUpdated, kRefreshWaitMs));
    expectRowsConsistent(list());
}

TEST_F(LiveRefresh, RefreshWaitsForThePropertySheet)
{
    PropertySheetOpened();
    view()->SetOutOfDate(1);
    view()->SetOutOfDate(1);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(view()->outOfDate(), 1);
    PropertySheetClosed();
    EXPECT_TRUE(QTest::qWaitFor([&] { return view()->outOfDate() == 0; }, 2000));
}

TEST_F(LiveRefresh, RowsGoWithTheirNodes)
{
    QSignalSpy inserted(list()->rowModel(), &QAbstractItemModel::rowsInserted);
    expandSelected();
    EXPECT_EQ(inserted.count(), 1); // all children in one block
    const int products = rowIndex(list(), "/products/");
    select(products);
    expandSelected();
    ASSERT_GT(list()->RowCount(), products + 1);
    CTreeRow *productsRow = list()->RowAt(products);

    // The model frees the page's children: their rows leave the list at once.
    const int before = list()->RowCount();
    const int children = int(productsRow->node->childCount());
    FreeChildren(productsRow->node);
    EXPECT_EQ(list()->RowCount(), before - children);
    EXPECT_FALSE(productsRow->expanded);
    EXPECT_FALSE(productsRow->expandable);
    expectRowsConsistent(list());

    // Once the page is saved, the refresh command reads it again.
    m_site.addLink("products/index.html", "again.html");
    trigger("actionViewRefresh");
    EXPECT_TRUE(productsRow->expandable);
    expectRowsConsistent(list());
}

TEST_F(LiveRefresh, ClosingASecondWindowLeavesNoNodeBehind)
{
    expandSelected();
    const size_t nodes = LiveNodeCount();
    trigger("actionWindowNew");
    ASSERT_EQ(windowCount(), 2);
    expandSelected();
    select(rowIndex(list(), "/products/"));
    expandSelected();
    EXPECT_GT(LiveNodeCount(), nodes);
    frame()->mdiArea()->activeSubWindow()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(windowCount(), 1);
    EXPECT_EQ(LiveNodeCount(), nodes);
    expectRowsConsistent(list());
}

TEST_F(LiveRefresh, DeepRowsTakeTheirLinesFromTheAncestors)
{
    // A chain of 20 levels whose node at level 17 has a following sibling.
    SiteNode *top = CreateNode();
    SiteNode *node = top;
    for (int level = 1; level < 20; ++level) {
        SiteNode *child = CreateNode();
        AppendChild(node, child);
        if (level == 17)
            AppendChild(node, CreateNode());
        node = child;
    }
    CTreeRow *row = view()->CreateRow(19, 2, 0x0002, node);
    EXPECT_TRUE(row->wideMask.test(1));
    EXPECT_TRUE(row->wideMask.test(17));
    EXPECT_FALSE(row->wideMask.test(16));
    EXPECT_FALSE(row->wideMask.test(18));
    EXPECT_FALSE(row->wideMask.test(19)); // the last child draws no line below
    EXPECT_EQ(node->viewItem, row);
    FreeNode(top); // the row goes with its node
    expectRowsConsistent(list());
}

// A tree on another server has no directory of ours to follow: its window
// starts no watcher, whatever the configuration serves.
TEST_F(AppFixture, ATreeOnAnotherServerWatchesNothing)
{
    SiteCopy site;
    site.use();
    int port = 0;
    {
        LoopbackListener closed; // a port nobody listens on once this goes
        port = closed.port();
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
    start({"sylvix", url.c_str()});
    ASSERT_TRUE(view());
    EXPECT_TRUE(view()->root()->flags & EXTERNAL);
    EXPECT_TRUE(view()->document()->watchedDirectories().empty());
}
