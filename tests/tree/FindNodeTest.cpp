#include "dialogs/CFindNodeDlg.h"
#include "dialogs/CFindProgressDlg.h"
#include "dialogs/FindState.h"
#include "model/Events.h"
#include "tests/app/AppFixture.h"
#include "tests/support/GuiTest.h"
#include "tests/support/ScriptServer.h"

#include <QCheckBox>
#include <QElapsedTimer>
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

    // Opens Find Node and fills it in as the user would, then presses Find;
    // opensOn names the field's button checked as it opens.
    void find(const FindInput &in, const char *opensOn = nullptr)
    {
        onNext<CFindNodeDlg>([in, opensOn](CFindNodeDlg *dlg) {
            if (opensOn) {
                EXPECT_TRUE(child<QRadioButton>(dlg, opensOn)->isChecked());
            }
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
    EXPECT_EQ(lastSearch.flags, uint32_t(BROKEN));
    EXPECT_FALSE(lastSearch.text);
    EXPECT_EQ(frame()->statusText(), QStringLiteral("Norvane Sylvix"));
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

    // The dialog opens on the view's display mode, not on the last choice.
    trigger("actionViewLabel");
    find({QStringLiteral("treasure"), "titleRadio"}, "labelRadio");
    EXPECT_EQ(lastSearch.field, 2);
    const CTreeRow *match = list()->SelectedRow();
    ASSERT_TRUE(match);
    EXPECT_EQ(match->node->title.str(), "Deep Treasure");
    EXPECT_EQ(match->level, 7);
    for (const SiteNode *up = match->node->parent(); up; up = up->parent()) {
        const auto *row = static_cast<const CTreeRow *>(up->viewItem);
        ASSERT_TRUE(row) << where(up);
        EXPECT_TRUE(row->expanded) << where(up);
        EXPECT_GE(list()->FindRow(row), 0) << where(up);
    }

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

TEST_F(FindNode, StopDuringANetworkCheckEndsOnlyThatCheck)
{
    ScriptServer peer;
    peer.setDefault(Reply{{}, 0, 20000}); // reads the request, then says nothing
    m_site.write("docs/a.html", "<a href=\"" + peer.base() + "/slow.html\">slow</a>");
    startSite();
    bool stopped = false;
    InstallEventPump([&] {
        if (!stopped && peer.connections() > 0) {
            stopped = true;
            trigger("actionViewStop");
        }
        QCoreApplication::processEvents();
    });
    QElapsedTimer timer;
    timer.start();
    find({QStringLiteral("program page"), "titleRadio"});
    // The check would wait 10 s for an answer: ending it is the behaviour.
    EXPECT_LT(timer.elapsed(), 8000);
    EXPECT_TRUE(stopped);
    EXPECT_EQ(selected(), "view.html@3");
    EXPECT_FALSE(CancelRequested());
}
