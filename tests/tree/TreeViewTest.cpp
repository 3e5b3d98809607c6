// Tree windows over a copy of the demo site that the tests may change.

#include "model/Display.h"
#include "model/Events.h"
#include "resources/Icons.h"
#include "tests/app/AppFixture.h"
#include "tests/support/ScopedEnv.h"
#include "tree/TreeRowModel.h"
#include "tree/ViewRow.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <fstream>

using namespace sylvix;
using namespace sylvix::test;

namespace {

// Adds a link before the page's closing body tag, as an editor's save.
void addLink(const std::string &page, const std::string &href)
{
    std::string html = readFile(page);
    html.insert(html.rfind("</body>"), "<p><a href=\"" + href + "\">added</a></p>\n");
    std::ofstream(page, std::ios::binary | std::ios::trunc) << html;
}

std::vector<SiteNode *> childrenOf(SiteNode *node)
{
    std::vector<SiteNode *> out;
    for (SiteNode *c = node->firstChild(); c; c = c->nextSibling())
        out.push_back(c);
    return out;
}

// Every row is its node's row, and the rows below a row are one level deeper
// at most.
void expectRowsConsistent(CTreeListBox *list)
{
    for (int i = 0; i < list->RowCount(); ++i) {
        const CTreeRow *row = list->RowAt(i);
        EXPECT_EQ(row->node->viewItem, row) << i;
        EXPECT_EQ(list->FindRow(row), i);
        EXPECT_TRUE(i == 0 || row->level <= list->RowAt(i - 1)->level + 1) << i;
    }
}

// Runs once inside the next expansion's event pump, then pumps as usual.
void onNextPump(std::function<void()> once)
{
    auto pending = std::make_shared<std::function<void()>>(std::move(once));
    InstallEventPump([pending] {
        if (*pending)
            std::exchange(*pending, nullptr)();
        QCoreApplication::processEvents();
    });
}

bool hasChildEnding(SiteNode *node, std::string_view urlTail)
{
    const std::vector<SiteNode *> kids = childrenOf(node);
    return std::any_of(kids.begin(), kids.end(),
                       [&](const SiteNode *c) { return c->url.view().ends_with(urlTail); });
}

constexpr int kRefreshWaitMs = 15000; // a watcher report, then the refresh, on a loaded machine

} // namespace

class TreeView : public AppFixture
{
protected:
    TreeView() : AppFixture(true) {}
    void SetUp() override
    {
        AppFixture::SetUp();
        start();
        m_tester = std::make_unique<QAbstractItemModelTester>(
            list()->rowModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    }
    void TearDown() override
    {
        InstallEventPump([] { QCoreApplication::processEvents(); });
        m_tester.reset();
        AppFixture::TearDown();
    }

    CTreeRow *rootRow() const { return list()->RowAt(0); }

    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

TEST_F(TreeView, ExpandsAndCollapsesInEachDisplayMode)
{
    ASSERT_EQ(list()->RowCount(), 1);
    CTreeRow *root = rootRow();
    EXPECT_EQ(std::tuple(root->position, list()->SelectedRow()), std::tuple(0, root));
    ASSERT_TRUE(root->expandable);
    EXPECT_FALSE(enabled("actionTreeCollapse"));

    trigger("actionTreeExpand");
    const std::vector<SiteNode *> kids = childrenOf(root->node);
    ASSERT_GE(kids.size(), 3u);
    ASSERT_EQ(list()->RowCount(), int(kids.size()) + 1);
    EXPECT_FALSE(root->expandable);
    for (size_t i = 0; i < kids.size(); ++i) {
        const auto *row = static_cast<const CViewRow *>(list()->RowAt(int(i) + 1));
        const bool last = i + 1 == kids.size();
        EXPECT_EQ(std::tuple(row->node, row->level, row->position, row->lineMask,
                             bool(row->expandable), row->icon.cacheKey(), row->stateIcons),
                  std::tuple(kids[i], 1, last ? 2 : 1, last ? 0 : 2, kids[i]->hasChildren(),
                             KindIcon(kids[i]->kind).cacheKey(), StateIconNames(kids[i]->flags)))
            << kids[i]->url.str();
    }
    expectRowsConsistent(list());
    // Each display command shows its mode's text on every row; which text
    // a mode shows is the model's rule.
    const char *modes[] = {"actionViewFileName", "actionViewTitle", "actionViewLabel",
                           "actionViewUrl", "actionViewHyperlink"};
    for (int m = 0; m < 5; ++m) {
        trigger(modes[m]);
        frame()->UpdateCommands();
        EXPECT_TRUE(action(modes[m])->isChecked()) << modes[m];
        for (int i = 0; i < list()->RowCount(); ++i)
            EXPECT_EQ(list()->RowAt(i)->text.toStdString(),
                      DisplayText(*list()->RowAt(i)->node, DisplayMode((m + 1) % 5)))
                << modes[m] << " row " << i;
    }

    // Two levels: a child with children of its own, then collapse the root.
    int open = 1;
    while (open < list()->RowCount() && !list()->RowAt(open)->expandable)
        ++open;
    ASSERT_LT(open, list()->RowCount());
    CTreeRow *child = list()->RowAt(open);
    list()->SelectRow(child);
    trigger("actionTreeExpand");
    EXPECT_EQ(list()->RowCount(), int(kids.size() + childrenOf(child->node).size()) + 1);
    EXPECT_EQ(list()->RowAt(open + 1)->level, 2);
    EXPECT_EQ(bool(list()->RowAt(open + 1)->lineMask & 2), child->position != 2);

    list()->SelectRow(root);
    trigger("actionTreeCollapse");
    EXPECT_EQ(list()->RowCount(), 1);
    EXPECT_TRUE(root->expandable);
}

TEST_F(TreeView, BoxClickDoubleClickEnterKeysAndRightClick)
{
    // A double click on the box toggles the row once: press, release,
    // press and double click, release, as the window system sends them.
    const QPoint box = list()->BoxRectAt(0).center();
    ASSERT_FALSE(box.isNull());
    for (auto [type, ms] : {std::pair{QEvent::MouseButtonPress, 0},
                            {QEvent::MouseButtonRelease, 40},
                            {QEvent::MouseButtonPress, 120},
                            {QEvent::MouseButtonDblClick, 120},
                            {QEvent::MouseButtonRelease, 160}}) {
        const bool down = type != QEvent::MouseButtonRelease;
        QMouseEvent e(type, box, list()->viewport()->mapToGlobal(box), Qt::LeftButton,
                      down ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        e.setTimestamp(1000000 + ulong(ms));
        QApplication::sendEvent(list()->viewport(), &e);
    }
    const int open = list()->RowCount();
    EXPECT_GT(open, 1);
    // A single click later closes it again.
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, box);
    EXPECT_EQ(list()->RowCount(), 1);
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, box);
    EXPECT_EQ(list()->RowCount(), open);

    // Enter opens the document, not the row: with no association tools to be
    // found, it ends in a message.
    ScopedEnv noTools("PATH", "/nonexistent");
    MessageBox::setAutoAnswer(QMessageBox::Ok);
    QTest::keyClick(list(), Qt::Key_Return);
    EXPECT_EQ(std::pair(list()->RowCount(), MessageBox::count()), std::pair(open, 1));

    // A right click selects the row and shows its menu, toggling nothing.
    QStringList shown;
    QTimer::singleShot(0, [&] {
        if (QWidget *popup = QApplication::activePopupWidget()) {
            for (QAction *a : popup->actions())
                if (!a->isSeparator())
                    shown << a->text().remove(QLatin1Char('&'));
            popup->close();
        }
    });
    const QRect r = list()->visualRect(list()->rowModel()->index(2));
    QTest::mouseClick(list()->viewport(), Qt::RightButton, {}, r.center());
    EXPECT_EQ(list()->SelectedRow(), list()->RowAt(2));
    EXPECT_EQ(shown,
              (QStringList{QStringLiteral("Open..."), QStringLiteral("Properties"),
                           QStringLiteral("Browser Preview..."), QStringLiteral("Wizards...")}));
    EXPECT_TRUE(rootRow()->expanded); // no box toggled
}

TEST_F(TreeView, CommandsWhileBusyAndStopDuringAnExpansion)
{
    // One command for each rule the view applies.
    for (const char *on :
         {"actionFileNewTree", "actionFileExit", "actionTreeExpand", "actionViewStop",
          "actionFileProperties", "actionPropertiesDiagnostics", "actionToolsWizards"})
        EXPECT_TRUE(enabled(on)) << on;
    EXPECT_TRUE(action("actionViewHyperlink")->isChecked());

    std::vector<std::string> onWhileBusy;
    onNextPump([&] {
        for (const char *name : {"actionFileNewTree", "actionFileExit", "actionViewHyperlink",
                                 "actionTreeCollapse", "actionViewStop", "actionWindowNew"})
            if (enabled(name))
                onWhileBusy.push_back(name);
        // Clicks on rows are ignored while busy.
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, list()->BoxRectAt(0).center());
    });
    trigger("actionTreeExpand");
    EXPECT_EQ(onWhileBusy, std::vector<std::string>{"actionViewStop"});
    EXPECT_TRUE(rootRow()->expanded);
    trigger("actionTreeCollapse");

    bool closedWhileBusy = false;
    onNextPump([&] {
        // While busy neither the window nor the frame closes.
        frame()->mdiArea()->activeSubWindow()->close();
        frame()->close();
        closedWhileBusy = windowCount() != 1 || !frame()->isVisible();
        trigger("actionViewStop");
    });
    trigger("actionTreeExpand");
    EXPECT_FALSE(closedWhileBusy);
    EXPECT_EQ(std::tuple(list()->RowCount(), rootRow()->expandable, rootRow()->expanded, busy,
                         CancelRequested()),
              std::tuple(1, 1, 0, 0, false));

    // Escape in the list stops it too.
    onNextPump([&] { QTest::keyClick(list(), Qt::Key_Escape); });
    trigger("actionTreeExpand");
    EXPECT_EQ(list()->RowCount(), 1);

    InstallEventPump([] { QCoreApplication::processEvents(); });
    EXPECT_TRUE(frame()->close()); // once stopped, the frame closes
}

// A second window runs on its own copy and frees every node it made. Saved
// pages refresh every window with open rows and the selection kept, also a
// page mirrored from one whose source was freed by a re-read before.
TEST_F(TreeView, WindowsKeepTheirOwnCopiesAndSavedPagesRefreshThemAll)
{
    CTreeListBox *firstList = list();
    ASSERT_TRUE(openDown({"/products/", "/products/station.html"}));
    trigger("actionTreeExpand");
    const int firstRows = firstList->RowCount();
    const size_t nodes = LiveNodeCount();
    trigger("actionWindowNew");
    ASSERT_EQ(windowCount(), 2);
    ASSERT_TRUE(openDown({"/products/"}));
    EXPECT_GT(LiveNodeCount(), nodes); // its own copy: nodes of its own
    frame()->mdiArea()->activeSubWindow()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(windowCount(), 1);
    EXPECT_EQ(LiveNodeCount(), nodes);
    EXPECT_EQ(firstList->RowCount(), firstRows);

    trigger("actionWindowNew");
    ASSERT_TRUE(openDown({"/products/"}));
    addLink(m_demo.page("products/index.html"), "fresh.html");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const int at = rowIndex("/products/");
            return at > 0 && hasChildEnding(list()->RowAt(at)->node, "/products/fresh.html");
        },
        kRefreshWaitMs));
    // The first window too: the open row is open again and the selection is
    // where it was.
    auto firstRow = [&](const char *tail) { return rowIndex(tail, 0, firstList); };
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return firstRow("/products/fresh.html") > 0; }, kRefreshWaitMs));
    EXPECT_TRUE(firstList->RowAt(firstRow("/products/"))->expanded);
    ASSERT_TRUE(firstList->SelectedRow());
    EXPECT_TRUE(firstList->SelectedRow()->node->url.view().ends_with("/products/station.html"));
    EXPECT_TRUE(firstList->SelectedRow()->expanded); // a row below the re-read page
    EXPECT_EQ(firstList->RowAt(firstRow("/products/fresh.html"))->level, 2);
    expectRowsConsistent(firstList);
    expectRowsConsistent(list());

    // The re-read freed the products page's children, a mirror's source
    // among them (the barometer page is linked from the home page and from
    // the products page); every barometer row still follows a save of it.
    addLink(m_demo.page("products/barometer.html"), "second.html");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            int rows = 0;
            for (int i = -1; (i = rowIndex("/products/barometer.html", i + 1, firstList)) >= 0;
                 ++rows)
                if (!hasChildEnding(firstList->RowAt(i)->node, "/products/second.html"))
                    return false;
            return rows >= 2;
        },
        kRefreshWaitMs));
    expectRowsConsistent(firstList);
}

// The refresh waits for the property sheet, and rows leave with their nodes.
TEST_F(TreeView, RefreshWaitsForThePropertySheetAndRowsGoWithTheirNodes)
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
    CTreeRow *products = openDown({"/products/"});
    ASSERT_TRUE(products);
    EXPECT_EQ(inserted.count(), 1); // all children in one block
    trigger("actionTreeExpand");
    // The model frees the page's children: their rows leave the list at once.
    const int before = list()->RowCount();
    const int children = int(products->node->childCount());
    ASSERT_GT(children, 0);
    FreeChildren(products->node);
    EXPECT_EQ(list()->RowCount(), before - children);
    EXPECT_FALSE(products->expanded);
    EXPECT_FALSE(products->expandable);
    expectRowsConsistent(list());
    // Once the page is saved, the refresh command reads it again.
    addLink(m_demo.page("products/index.html"), "again.html");
    trigger("actionViewRefresh");
    EXPECT_TRUE(products->expandable);
    expectRowsConsistent(list());
}
