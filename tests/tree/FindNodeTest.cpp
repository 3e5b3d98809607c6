#include "dialogs/CFindNodeDlg.h"
#include "dialogs/CFindProgressDlg.h"
#include "dialogs/FindState.h"
#include "model/Events.h"
#include "tests/app/AppFixture.h"
#include "tests/support/GuiTest.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace sylvix;
using namespace sylvix::test;
using namespace std::string_literals;

namespace {

struct FindInput
{
    QString text;
    const char *field = "titleRadio";
    bool matchCase = false;
    bool broken = false;
};

// The URL's file name and its places among siblings below the root.
std::string where(const SiteNode *n)
{
    std::string places;
    for (const SiteNode *p = n; p->parent(); p = p->parent())
        places = "@" + std::to_string(p->childIndex()) + places;
    const std::string url = n->url.str();
    return url.substr(url.rfind('/') + 1) + places;
}

void setChecked(QCheckBox *box, bool on)
{
    // On the indicator: the box may be wider than what it draws.
    if (box->isChecked() != on)
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

} // namespace

// The site of data/findsite, described in its site.reg.
class FindNode : public AppFixture
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        lastSearch = {};
        MessageBox::setAutoAnswer(QMessageBox::Ok);
        m_site.use();
    }
    void TearDown() override
    {
        InstallEventPump([] { QCoreApplication::processEvents(); });
        AppFixture::TearDown();
    }
    void startSite() { start({"sylvix", "http://www.example.org/index.html"}); }

    // Opens Find Node and fills it in as the user would, then presses Find.
    void find(const FindInput &in)
    {
        onNext<CFindNodeDlg>([in](CFindNodeDlg *dlg) {
            auto *edit = child<QLineEdit>(dlg, "textEdit");
            edit->selectAll();
            QTest::keyClick(edit, Qt::Key_Delete);
            QTest::keyClicks(edit, in.text);
            child<QRadioButton>(dlg, in.field)->click();
            setChecked(child<QCheckBox>(dlg, "matchCaseCheck"), in.matchCase);
            setChecked(child<QCheckBox>(dlg, "brokenCheck"), in.broken);
            QTest::mouseClick(child<QPushButton>(dlg, "findButton"), Qt::LeftButton);
            if (dlg->isVisible()) // a disabled Find button: fail rather than hang
                dlg->reject();
        });
        trigger("actionSearchFindNode");
    }

    std::string selected() const
    {
        const CTreeRow *row = list()->SelectedRow();
        return row ? where(row->node) : std::string("(none)");
    }
    // The selected row and every match after it, up to the message that ends them.
    std::vector<std::string> findNextToTheEnd()
    {
        std::vector<std::string> found{selected()};
        const int boxes = MessageBox::count();
        while (MessageBox::count() == boxes && found.size() < 50) {
            trigger("actionSearchFindNextNode");
            if (MessageBox::count() == boxes)
                found.push_back(selected());
        }
        return found;
    }
    void expectNoMatchBox(const char *caption)
    {
        expectBox("No match in the rest of your web.", QString::fromUtf8(caption),
                  QMessageBox::NoIcon);
        EXPECT_EQ(MessageBox::last()->buttons, QMessageBox::Ok);
    }

    DemoStore m_site{std::string(SYLVIX_SOURCE_DIR) + "/tests/tree/data/findsite", "site.reg",
                     true};
};

// Each option of the dialog reaches the search, and each search ends in its
// message after every match; the matching rules themselves are the model's.
TEST_F(FindNode, MatchesInOrderThroughMirrorsAndCaseThenTheMessage)
{
    startSite();
    EXPECT_TRUE(enabled("actionSearchFindNode"));
    EXPECT_FALSE(enabled("actionSearchFindNextNode"));
    const struct
    {
        FindInput input;
        std::vector<std::string> matches;
    } cases[] = {
        // The root is tested first; the last deep page links back to it.
        {{QStringLiteral("home"), "titleRadio"}, {"index.html", "index.html@0@2@0@0@0@0@0@0"}},
        {{QStringLiteral("Beta"), "titleRadio", true}, {"b.html@0@0@0", "b.html@1"}},
        {{QStringLiteral("BETA"), "titleRadio", true}, {}},
        {{QStringLiteral("A1.HTML"), "hyperlinkRadio"}, {"a1.html@0@0"}},
        // Flags alone: broken nodes, their rows opened.
        {{QString(), "titleRadio", false, true}, {"missing2.html@0@1", "missing1.html@2"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.input.text.toStdString());
        MessageBox::clearLast();
        lastSearch = {};
        find(c.input);
        if (c.matches.empty()) {
            expectNoMatchBox("Find Node");
            continue;
        }
        EXPECT_TRUE(enabled("actionSearchFindNextNode"));
        EXPECT_EQ(findNextToTheEnd(), c.matches);
        expectNoMatchBox("Find Next");
        EXPECT_EQ(selected(), c.matches.back()); // the selection stays
    }
}

// A cancelled search ends silently; a deep match is revealed; the links of a
// page from a program folder are searched only once its row was opened.
TEST_F(FindNode, CancelDeepMatchAndVirtualPages)
{
    startSite();
    find({QStringLiteral("home"), "titleRadio"});
    ASSERT_EQ(selected(), "index.html");
    const int boxes = MessageBox::count();
    bool windowShown = false;
    // Cancel once the walk is under way, when it parses its first page.
    InstallEventPump([&] {
        CFindProgressDlg *progress = CFindProgressDlg::current();
        if (progress && progress->isVisible() && !progress->cancelled()) {
            windowShown = true;
            QTest::mouseClick(child<QPushButton>(progress, "cancelButton"), Qt::LeftButton);
        }
        QCoreApplication::processEvents();
    });
    find({QStringLiteral("treasure"), "urlRadio"});
    InstallEventPump([] { QCoreApplication::processEvents(); });
    EXPECT_TRUE(windowShown);
    EXPECT_EQ(MessageBox::count(), boxes);
    EXPECT_EQ(std::tuple(selected(), list()->RowCount(), busy), std::tuple("index.html"s, 1, 0));
    EXPECT_FALSE(CFindProgressDlg::current());
    EXPECT_EQ(lastSearch.field, 2); // from the first search: a cancelled one stores nothing
    EXPECT_EQ(lastSearch.text, "treasure");

    find({QStringLiteral("treasure"), "titleRadio"});
    const CTreeRow *match = list()->SelectedRow(); // revealed: its row is in the list
    ASSERT_TRUE(match);
    EXPECT_EQ(std::tuple(match->node->title.str(), match->level, list()->FindRow(match) > 0),
              std::tuple("Deep Treasure"s, 7, true));

    MessageBox::clearLast();
    find({QStringLiteral("gem"), "titleRadio"});
    expectNoMatchBox("Find Node");
    find({QStringLiteral("program page"), "titleRadio"});
    ASSERT_EQ(selected(), "view.html@3");
    EXPECT_TRUE(list()->SelectedRow()->node->flags & VIRTUAL);
    trigger("actionTreeExpand");
    find({QStringLiteral("gem"), "titleRadio"});
    EXPECT_EQ(selected(), "hidden.html@3@0");
}
