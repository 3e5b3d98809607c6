#include "model/Display.h"
#include "model/Events.h"
#include "model/SiteNode.h"
#include "resources/Icons.h"
#include "tests/app/AppFixture.h"
#include "tests/support/ScopedEnv.h"
#include "tree/TreeRowModel.h"
#include "tree/ViewRow.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>

using namespace sylvix;
using namespace sylvix::test;

namespace {

std::vector<SiteNode *> childrenOf(SiteNode *node)
{
    std::vector<SiteNode *> out;
    for (SiteNode *c = node->firstChild(); c; c = c->nextSibling())
        out.push_back(c);
    return out;
}

// Runs once inside the next expansion's event pump, then pumps as usual.
void onNextPump(std::function<void()> once)
{
    auto pending = std::make_shared<std::function<void()>>(std::move(once));
    InstallEventPump([pending] {
        if (*pending) {
            auto f = std::move(*pending);
            *pending = nullptr;
            f();
        }
        QCoreApplication::processEvents();
    });
}

} // namespace

class TreeView : public AppFixture
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        start();
        m_tester = std::make_unique<QAbstractItemModelTester>(
            list()->rowModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    }
    void TearDown() override
    {
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
    EXPECT_EQ(root->node, view()->root());
    EXPECT_EQ(root->level, 0);
    EXPECT_EQ(root->position, 0);
    EXPECT_EQ(list()->SelectedRow(), root);
    ASSERT_TRUE(root->expandable);
    EXPECT_TRUE(enabled("actionTreeExpand"));
    EXPECT_FALSE(enabled("actionTreeCollapse"));

    frame()->SetStatusText(QStringLiteral("something else"));
    trigger("actionTreeExpand");
    const std::vector<SiteNode *> kids = childrenOf(root->node);
    ASSERT_GE(kids.size(), 3u);
    ASSERT_EQ(list()->RowCount(), int(kids.size()) + 1);
    EXPECT_TRUE(root->expanded);
    EXPECT_FALSE(root->expandable);
    EXPECT_EQ(frame()->statusText(), QStringLiteral("Norvane Sylvix"));
    for (size_t i = 0; i < kids.size(); ++i) {
        const auto *row = static_cast<const CViewRow *>(list()->RowAt(int(i) + 1));
        SCOPED_TRACE(kids[i]->url.str());
        EXPECT_EQ(row->node, kids[i]);
        EXPECT_EQ(kids[i]->viewItem, row);
        EXPECT_EQ(row->level, 1);
        const bool last = i + 1 == kids.size();
        EXPECT_EQ(row->position, last ? 2 : 1);
        EXPECT_EQ(row->lineMask, last ? 0 : 2);
        EXPECT_EQ(bool(row->expandable), kids[i]->hasChildren());
        EXPECT_EQ(row->icon.cacheKey(), KindIcon(kids[i]->kind).cacheKey());
        EXPECT_EQ(row->stateIcons, StateIconNames(kids[i]->flags));
    }
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
    EXPECT_FALSE(action("actionViewTitle")->isChecked());

    // Two levels: a child with children of its own, then collapse the root.
    int open = 0;
    while (open < list()->RowCount() && !list()->RowAt(open)->expandable)
        ++open;
    ASSERT_LT(open, list()->RowCount());
    CTreeRow *child = list()->RowAt(open);
    list()->SelectRow(child);
    trigger("actionTreeExpand");
    const size_t grandkids = childrenOf(child->node).size();
    EXPECT_EQ(list()->RowCount(), int(kids.size() + grandkids) + 1);
    EXPECT_EQ(list()->RowAt(open + 1)->level, 2);
    const bool childIsLast = child->position == 2;
    EXPECT_EQ(bool(list()->RowAt(open + 1)->lineMask & 2), !childIsLast);

    list()->SelectRow(root);
    trigger("actionTreeCollapse");
    EXPECT_EQ(list()->RowCount(), 1);
    EXPECT_TRUE(root->expandable);
    EXPECT_FALSE(child->expanded); // the subtree went with it

    // Rows are reused when the node is shown again.
    trigger("actionTreeExpand");
    EXPECT_EQ(list()->RowAt(open), child);
    EXPECT_EQ(list()->RowCount(), int(kids.size()) + 1);
}

TEST_F(TreeView, BoxClickDoubleClickEnterKeysAndRightClick)
{
    // A double click on the box toggles the row once: press, release,
    // press and double click, release, as the window system sends them.
    const QPoint box = list()->BoxRectAt(0).center();
    ASSERT_FALSE(box.isNull());
    auto send = [this, box](QEvent::Type type, ulong time) {
        const bool down = type != QEvent::MouseButtonRelease;
        QMouseEvent e(type, box, list()->viewport()->mapToGlobal(box), Qt::LeftButton,
                      down ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        e.setTimestamp(time);
        QApplication::sendEvent(list()->viewport(), &e);
    };
    const ulong t = 1000000;
    send(QEvent::MouseButtonPress, t);
    send(QEvent::MouseButtonRelease, t + 40);
    send(QEvent::MouseButtonPress, t + 120);
    send(QEvent::MouseButtonDblClick, t + 120);
    send(QEvent::MouseButtonRelease, t + 160);
    const int open = list()->RowCount();
    EXPECT_GT(open, 1);
    EXPECT_TRUE(rootRow()->expanded);
    // A single click later closes it again.
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, box);
    EXPECT_EQ(list()->RowCount(), 1);
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, box);
    EXPECT_EQ(list()->RowCount(), open);

    // Enter and double clicks on the text open the document, not the row:
    // with no association tools to be found, each ends in a message.
    ScopedEnv noTools("PATH", "/nonexistent");
    MessageBox::setAutoAnswer(QMessageBox::Ok);
    QTest::keyClick(list(), Qt::Key_Return);
    EXPECT_EQ(list()->RowCount(), open);
    const QPoint text = list()->visualRect(list()->rowModel()->index(0)).topLeft() + QPoint(60, 10);
    QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, text);
    EXPECT_EQ(list()->RowCount(), open);
    EXPECT_EQ(MessageBox::count(), 2);

    // "-" and "+" reach the selected row from the keyboard.
    list()->SelectRow(rootRow());
    QTest::keyClick(list(), Qt::Key_Minus);
    EXPECT_EQ(list()->RowCount(), 1);
    QTest::keyClick(list(), Qt::Key_Plus);
    EXPECT_EQ(list()->RowCount(), open);

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
    EXPECT_TRUE(rootRow()->expanded);    // no box toggled
    QTest::keyClick(list(), Qt::Key_Up); // other keys go to the list
    EXPECT_EQ(list()->SelectedRow(), list()->RowAt(1));
}

TEST_F(TreeView, CommandsWhileBusyAndStopDuringAnExpansion)
{
    // One command for each rule the view applies.
    for (const char *on : {"actionFileNewTree", "actionFileExit", "actionTreeExpand",
                           "actionViewStop", "actionPropertiesDiagnostics", "actionToolsWizards"})
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
    EXPECT_TRUE(enabled("actionTreeCollapse"));
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
    EXPECT_EQ(list()->RowCount(), 1);
    EXPECT_TRUE(rootRow()->expandable);
    EXPECT_FALSE(rootRow()->expanded);
    EXPECT_EQ(busy, 0);
    EXPECT_FALSE(CancelRequested());

    // Escape in the list stops it too.
    onNextPump([&] { QTest::keyClick(list(), Qt::Key_Escape); });
    trigger("actionTreeExpand");
    EXPECT_EQ(list()->RowCount(), 1);

    InstallEventPump([] { QCoreApplication::processEvents(); });
    EXPECT_TRUE(frame()->close()); // once stopped, the frame closes
}

// A second window runs on its own copy; closing it leaves the first tree's
// rows alone and frees every node it made.
TEST_F(TreeView, SecondWindowShowsItsOwnCopyAndLeavesNoNodeBehind)
{
    trigger("actionTreeExpand");
    const int firstRows = list()->RowCount();
    const size_t nodes = LiveNodeCount();
    CListtestView *first = view();
    trigger("actionWindowNew");
    ASSERT_EQ(windowCount(), 2);
    ASSERT_NE(view(), first);
    EXPECT_EQ(list()->RowCount(), 1);
    EXPECT_NE(view()->root(), first->root());
    EXPECT_EQ(view()->root()->url.str(), first->root()->url.str());

    trigger("actionTreeExpand");
    for (int i = 1; i < list()->RowCount(); ++i)
        if (list()->RowAt(i)->expandable)
            list()->SelectRow(list()->RowAt(i));
    trigger("actionTreeExpand");
    EXPECT_GT(LiveNodeCount(), nodes);
    EXPECT_EQ(first->treeList()->RowCount(), firstRows);
    EXPECT_NE(list()->RowAt(1), first->treeList()->RowAt(1));

    frame()->mdiArea()->activeSubWindow()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(windowCount(), 1);
    EXPECT_EQ(LiveNodeCount(), nodes);
    EXPECT_EQ(first->treeList()->RowAt(1)->node->viewItem, first->treeList()->RowAt(1));
}
