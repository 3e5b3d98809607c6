#include "app/AppState.h"
#include "dialogs/HelpWindow.h"
#include "model/AccessLog.h"
#include "model/SiteNode.h"
#include "props/CNodePropActivity.h"
#include "props/CNodePropDgnostics.h"
#include "props/CNodePropGeneral.h"
#include "props/CNodeProperties.h"
#include "props/PropertyRules.h"
#include "props/TabbedList.h"
#include "resources/Icons.h"
#include "tests/app/AppFixture.h"
#include "tests/props/NodeHolder.h"
#include "tests/support/GuiTest.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>

#include <algorithm>
#include <filesystem>
#include <future>

using namespace sylvix;
using namespace sylvix::test;

namespace {

bool shown(QWidget *page, const char *name)
{
    QWidget *w = child(page, name);
    return w && !w->isHidden();
}

bool enabledIn(QWidget *page, const char *name)
{
    QWidget *w = child(page, name);
    return w && w->isEnabled();
}

QString textOf(QWidget *page, const char *name)
{
    const QString n = QString::fromUtf8(name);
    if (auto *edit = page->findChild<QLineEdit *>(n))
        return edit->text();
    if (auto *label = page->findChild<QLabel *>(n))
        return label->text();
    ADD_FAILURE() << name;
    return {};
}

const std::string kExamples = std::string(SYLVIX_SOURCE_DIR) + "/examples";

QStringList expectedActivity(const std::string &path, int days)
{
    QStringList lines;
    for (const LogRecord &r : ReadAccessLog(path, days))
        lines.append(QString::fromStdString(ActivityLine(r)));
    return lines;
}

} // namespace

TEST(GeneralPage, StatesAndEnabling)
{
    struct Case
    {
        uint32_t flags, kind;
        std::vector<const char *> icons; // state icons shown
        bool docLabels, title;
    };
    const Case cases[] = {
        {0, Html, {}, true, true},
        {BROKEN | EXTERNAL, Html, {"Broken", "External"}, false, false},
        {NOTVER | EXTERNAL | VIRTUAL, Html, {"NotVerified", "External"}, false, false},
        {VIRTUAL | ISMAP | INLINED, Image, {"Virtual", "Mapped", "Inlined"}, true, false},
    };
    const char *const all[]
        = {"Broken", "NotVerified", "External", "Virtual", "Special", "Inlined", "Mapped"};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "flags " << c.flags << " kind " << c.kind);
        NodeHolder n;
        n->flags = c.flags;
        n->kind = c.kind;
        n->href = "a.gif";
        n->localPath = "/srv/docs/a.gif";
        n->stat.size = 2500000;
        CNodePropGeneral page(n.node, MakeGeneralTexts(*n.node));
        for (const char *state : all) {
            const bool want
                = std::find_if(c.icons.begin(), c.icons.end(),
                               [&](const char *s) { return std::string_view(s) == state; })
                  != c.icons.end();
            EXPECT_EQ(shown(&page, (std::string("icon") + state).c_str()), want) << state;
            EXPECT_EQ(shown(&page, (std::string("text") + state).c_str()), want) << state;
        }
        EXPECT_EQ(enabledIn(&page, "editTitle"), c.title);
        EXPECT_EQ(enabledIn(&page, "labelTitle"), c.title);
        for (const char *label :
             {"labelSize", "labelFileName", "labelModified", "labelType", "textKBytes"})
            EXPECT_EQ(enabledIn(&page, label), c.docLabels) << label;
        EXPECT_EQ(textOf(&page, "textKind"), QString::fromUtf8(KindDisplayText(c.kind)));
        const QPixmap icon = page.findChild<QLabel *>(QStringLiteral("iconKind"))->pixmap();
        EXPECT_EQ(icon.toImage(), KindIcon(c.kind).pixmap(icon.size()).toImage());
        // The texts are made by the rules' own functions: here only that they are shown.
        EXPECT_EQ(textOf(&page, "editLabel"), QStringLiteral("(none)"));
        EXPECT_EQ(textOf(&page, "textSize"), c.docLabels ? QStringLiteral("2500") : QString());
        EXPECT_TRUE(enabledIn(&page, "editFileName"));
    }
}

class DiagnosticsPage : public ::testing::Test
{
protected:
    void SetUp() override { diagnosticsFilter = 0; }
    void TearDown() override { diagnosticsFilter = 0; }
};

TEST_F(DiagnosticsPage, FiltersBySeverityRemembersTheChoiceAndFillsWhenTheCheckIsDone)
{
    NodeHolder n;
    n->kind = Html;
    n->diagnostics = Diagnostics(std::make_shared<const DiagnosticList>(
        DiagnosticList{{"info", 0, 9}, {"odd", 3, 5}, {"err", 2, 2}, {"warn", 1, 3}}));
    auto page = std::make_unique<CNodePropDgnostics>(n.node);
    page->show();
    EXPECT_EQ(page->list()->lines(),
              (QStringList{QStringLiteral("9\tI\tinfo"), QStringLiteral("5\t!\todd"),
                           QStringLiteral("2\tE\terr"), QStringLiteral("3\tW\twarn")}));
    EXPECT_GT(page->list()->horizontalExtent(), 0);
    ASSERT_EQ(page->list()->tabStops().size(), 2u);
    EXPECT_LT(page->list()->tabStops()[0], page->list()->tabStops()[1]);

    QTest::keyClick(page->filter(), Qt::Key_Down);
    QTest::keyClick(page->filter(), Qt::Key_Down);
    EXPECT_EQ(page->list()->lines(),
              (QStringList{QStringLiteral("5\t!\todd"), QStringLiteral("2\tE\terr")}));
    QTest::keyClick(page->filter(), Qt::Key_Up);
    EXPECT_EQ(page->list()->count(), 3);
    page.reset();

    // The next page, for another node, opens with that filter. Its check is
    // deferred and held up, yet the page is on screen and answers.
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    NodeHolder late;
    late->kind = Html;
    late->diagnostics = Diagnostics::onFirstRead([open]() -> std::optional<Diagnostics::List> {
        open.wait();
        return std::make_shared<const DiagnosticList>(DiagnosticList{{"late", 2, 4}});
    });
    CNodePropDgnostics next(late.node);
    QSignalSpy filled(&next, &CNodePropDgnostics::filled);
    next.show();
    EXPECT_EQ(next.filter()->currentIndex(), 1);
    EXPECT_FALSE(next.ready());
    EXPECT_TRUE(shown(&next, "textChecking"));
    EXPECT_EQ(next.list()->count(), 0);
    EXPECT_EQ(next.list()->horizontalExtent(), 0);
    QTest::keyClick(next.filter(), Qt::Key_Down);
    EXPECT_EQ(next.filter()->currentIndex(), 2);
    filled.clear();
    gate.set_value();
    ASSERT_TRUE(filled.wait(10000));
    EXPECT_TRUE(next.ready());
    EXPECT_FALSE(shown(&next, "textChecking"));
    EXPECT_EQ(next.list()->lines(), QStringList{QStringLiteral("4\tE\tlate")});
}

class ActivityPage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        activityDays = 1;
        // The demo store names its own folder as the log folder.
        const std::string dir = std::filesystem::path(m_demo.path()).parent_path();
        std::filesystem::copy_file(kExamples + "/logs/access.log", dir + "/access.log");
        m_demo.use();
        m_node->localPath = SharedStr(kExamples + "/demo-site/index.html");
        m_node->href = "http://localhost/";
        m_node->kind = Html;
    }
    void TearDown() override { activityDays = 1; }

    DemoStore m_demo;
    NodeHolder m_node;
};

TEST_F(ActivityPage, ListsTheDemoLogForTheLatestDayCount)
{
    activityDays = 100000;
    const QStringList all = expectedActivity("/", 100000);
    ASSERT_FALSE(all.isEmpty());
    {
        CNodePropActivity page(m_node.node);
        QSignalSpy refilled(&page, &CNodePropActivity::refilled);
        EXPECT_EQ(page.days()->text(), QStringLiteral("100000"));
        page.show();                               // starts a read for 100000 days...
        page.days()->setText(QStringLiteral("0")); // ...which this makes stale
        ASSERT_TRUE(refilled.wait(10000));
        EXPECT_EQ(refilled.count(), 1);
        EXPECT_EQ(page.list()->count(), 0);
        EXPECT_EQ(activityDays, 0);

        // Typing is read once, after the keys stop.
        page.days()->selectAll();
        QTest::keyClicks(page.days(), QStringLiteral("99999x"));
        refilled.clear();
        ASSERT_TRUE(refilled.wait(10000));
        EXPECT_EQ(page.list()->lines(), expectedActivity("/", 99999));
        EXPECT_EQ(page.list()->lines(), all);
        EXPECT_GT(page.list()->horizontalExtent(), 0);
        QTest::qWait(2 * CNodePropActivity::kDebounceMs);
        EXPECT_EQ(refilled.count(), 1);

        // A file outside the server has no key: the list stays as it is.
        m_node->localPath = "/nowhere/index.html";
        page.days()->setText(QStringLiteral("5"));
        ASSERT_TRUE(refilled.wait(10000));
        EXPECT_EQ(page.list()->lines(), all);
    }
    CNodePropActivity next(m_node.node);
    EXPECT_EQ(next.days()->text(), QStringLiteral("5"));
}

using PropertySheet = AppFixture;

TEST_F(PropertySheet, OpensOnTheSelectedRowAtTheAskedPage)
{
    start();
    const std::string dir = std::filesystem::path(m_demo.path()).parent_path();
    std::filesystem::copy_file(kExamples + "/logs/access.log", dir + "/access.log");
    EXPECT_TRUE(action("actionFileProperties")
                    ->shortcuts()
                    .contains(QKeySequence(QStringLiteral("Alt+Return"))));
    EXPECT_TRUE(enabled("actionFileProperties"));
    EXPECT_TRUE(enabled("actionPropertiesDiagnostics"));
    EXPECT_TRUE(enabled("actionPropertiesActivity"));

    QSignalSpy closed(&appEvents(), &AppEvents::propertySheetClosed);
    onNext<CNodeProperties>([](CNodeProperties *sheet) {
        EXPECT_EQ(propertySheetOpen, 1);
        EXPECT_EQ(sheet->windowTitle(), QStringLiteral("Properties for http://localhost/"));
        QTabWidget *tabs = sheet->tabs();
        ASSERT_EQ(tabs->count(), 4);
        EXPECT_EQ(tabs->tabText(0), QStringLiteral("General"));
        EXPECT_EQ(tabs->tabText(1), QStringLiteral("Access Control"));
        EXPECT_EQ(tabs->tabText(2), QStringLiteral("Diagnostics"));
        EXPECT_EQ(tabs->currentIndex(), 3);
        auto *activity = qobject_cast<CNodePropActivity *>(tabs->widget(3));
        ASSERT_TRUE(activity);
        QSignalSpy refilled(activity, &CNodePropActivity::refilled);
        activity->days()->setText(QStringLiteral("100000"));
        EXPECT_TRUE(refilled.wait(10000));
        EXPECT_EQ(activity->list()->lines(), expectedActivity("/", 100000));

        QTest::mouseClick(child<QPushButton>(sheet, "buttonHelp"), Qt::LeftButton);
        ASSERT_TRUE(HelpWindow::instance());
        EXPECT_TRUE(HelpWindow::instance()->source().toString().endsWith(
            QStringLiteral("properties.html")));
        HelpWindow::instance()->close();
        QTest::mouseClick(child<QPushButton>(sheet, "buttonCancel"), Qt::LeftButton);
    });
    trigger("actionPropertiesActivity");
    EXPECT_EQ(propertySheetOpen, 0);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(activityDays, 100000);

    // General from the menu command, for the same row.
    onNext<CNodeProperties>([](CNodeProperties *sheet) {
        EXPECT_EQ(sheet->tabs()->currentIndex(), 0);
        QTest::mouseClick(child<QPushButton>(sheet, "buttonOk"), Qt::LeftButton);
    });
    trigger("actionFileProperties");
    EXPECT_EQ(closed.count(), 2);
    activityDays = 1;
}
