// Tree windows over a copy of the demo site that the tests may change: saved
// pages refresh every window, and rows go with their nodes.

#include "app/AppState.h"
#include "model/SiteNode.h"
#include "tests/app/AppFixture.h"
#include "tests/support/ScriptServer.h"
#include "tree/TreeRowModel.h"
#include "tree/ViewRow.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <fstream>

using namespace sylvix;
using namespace sylvix::test;

namespace {

// Adds a link before the page's closing body tag, as an editor's save.
void addLink(const std::string &page, const std::string &href)
{
    std::string html = readFile(page);
    const size_t end = html.rfind("</body>");
    html.insert(end == std::string::npos ? html.size() : end,
                "<p><a href=\"" + href + "\">added</a></p>\n");
    std::ofstream(page, std::ios::binary | std::ios::trunc) << html;
}

// The rows from index from on whose URLs end with urlTail.
std::vector<int> rowsOf(CTreeListBox *list, std::string_view urlTail, int from = 0)
{
    std::vector<int> rows;
    for (int i = from; i < list->RowCount(); ++i)
        if (list->RowAt(i)->node->url.view().ends_with(urlTail))
            rows.push_back(i);
    return rows;
}

int rowIndex(CTreeListBox *list, std::string_view urlTail, int from = 0)
{
    const std::vector<int> rows = rowsOf(list, urlTail, from);
    return rows.empty() ? -1 : rows[0];
}

bool hasChildEnding(SiteNode *node, std::string_view urlTail)
{
    for (SiteNode *c = node->firstChild(); c; c = c->nextSibling())
        if (c->url.view().ends_with(urlTail))
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
    void expandRow(int index)
    {
        ASSERT_GE(index, 0);
        list()->SelectRow(list()->RowAt(index));
        trigger("actionTreeExpand");
    }

    DemoStore m_site{true};
};

// Saved pages refresh every window with open rows and the selection kept,
// also a page mirrored from one whose source was freed by a re-read before.
TEST_F(LiveRefresh, ASavedPageRefreshesEveryWindowKeepingOpenRowsAndSelection)
{
    const std::vector<std::string> watched = view()->document()->watchedDirectories();
    EXPECT_NE(std::find(watched.begin(), watched.end(), m_site.page("handbook")), watched.end());

    CListtestView *first = view();
    CTreeListBox *firstList = list();
    QAbstractItemModelTester tester(list()->rowModel(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    expandRow(0);
    const int products = rowIndex(list(), "/products/");
    expandRow(products);
    const int station = rowIndex(list(), "/products/station.html", products + 1);
    ASSERT_GT(station, products);
    expandRow(station);
    ASSERT_TRUE(list()->RowAt(station)->expanded);
    // The barometer page is linked from the home page and from the products
    // page: one of its nodes mirrors the other.
    ASSERT_GE(rowsOf(list(), "/products/barometer.html").size(), 2u);

    trigger("actionWindowNew");
    CListtestView *second = view();
    ASSERT_NE(second, first);
    expandRow(0);

    addLink(m_site.page("products/index.html"), "fresh.html");
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
    EXPECT_TRUE(firstList->SelectedRow()->node->url.view().ends_with("/products/station.html"));
    EXPECT_TRUE(firstList->SelectedRow()->expanded); // a row below the re-read page
    EXPECT_EQ(firstList->RowAt(freshRow())->level, 2);
    expectRowsConsistent(firstList);
    expectRowsConsistent(list());

    // The re-read freed the products page's children, a mirror's source
    // among them; every barometer row still follows a save of that page.
    addLink(m_site.page("products/barometer.html"), "second.html");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const std::vector<int> rows = rowsOf(firstList, "/products/barometer.html");
            for (int i : rows)
                if (!hasChildEnding(firstList->RowAt(i)->node, "/products/second.html"))
                    return false;
            return rows.size() >= 2;
        },
        kRefreshWaitMs));
    expectRowsConsistent(firstList);
}

// The refresh waits for the property sheet, and rows leave with their nodes.
TEST_F(LiveRefresh, RefreshWaitsForThePropertySheetAndRowsGoWithTheirNodes)
{
    PropertySheetOpened();
    view()->SetOutOfDate(1);
    view()->SetOutOfDate(1);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(view()->outOfDate(), 1);
    PropertySheetClosed();
    EXPECT_TRUE(QTest::qWaitFor([&] { return view()->outOfDate() == 0; }, 2000));

    QSignalSpy inserted(list()->rowModel(), &QAbstractItemModel::rowsInserted);
    expandRow(0);
    EXPECT_EQ(inserted.count(), 1); // all children in one block
    const int products = rowIndex(list(), "/products/");
    expandRow(products);
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
    addLink(m_site.page("products/index.html"), "again.html");
    trigger("actionViewRefresh");
    EXPECT_TRUE(productsRow->expandable);
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
    for (int bit = 0; bit < 20; ++bit) // the last child draws no line below
        EXPECT_EQ(row->wideMask.test(size_t(bit)), bit == 1 || bit == 17) << bit;
    EXPECT_EQ(node->viewItem, row);
    FreeNode(top); // the row goes with its node
    expectRowsConsistent(list());
}

// A tree on another server has no directory of ours to follow: its window
// starts no watcher, whatever the configuration serves.
TEST_F(AppFixture, ATreeOnAnotherServerWatchesNothing)
{
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
