#include "dialogs/CFindNodeDlg.h"
#include "dialogs/CFindProgressDlg.h"
#include "dialogs/FindState.h"
#include "model/SiteNode.h"
#include "tests/support/GuiTest.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace sylvix;

namespace {

// A click on the indicator: the box may be wider than what it draws.
void clickBox(QWidget &dlg, const char *name)
{
    auto *box = test::child<QCheckBox>(&dlg, name);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

template<class W>
W *child(QWidget &parent, const char *name)
{
    return test::child<W>(&parent, name);
}

} // namespace

TEST(FindDialog, FindButtonRuleAndWhatFindStores)
{
    lastSearch = {};
    const struct
    {
        const char *typed;
        const char *checkBox; // clicked after typing, or null
        bool findOn;
    } cases[] = {
        {"", nullptr, false},
        {"x", nullptr, true},
        {"", "brokenCheck", true}, // a flag alone is a search
        {"", "matchCaseCheck", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.typed) + " " + (c.checkBox ? c.checkBox : "-"));
        CFindNodeDlg dlg;
        dlg.field = 1;
        dlg.show();
        auto *find = child<QPushButton>(dlg, "findButton");
        EXPECT_FALSE(find->isEnabled());
        EXPECT_TRUE(child<QRadioButton>(dlg, "fileNameRadio")->isChecked());
        QTest::keyClicks(child<QLineEdit>(dlg, "textEdit"), QString::fromUtf8(c.typed));
        if (c.checkBox)
            clickBox(dlg, c.checkBox);
        EXPECT_EQ(find->isEnabled(), c.findOn);
        EXPECT_EQ(find->isDefault(), c.findOn);
    }

    // Opened from earlier choices; a Find with an empty edit keeps the
    // stored text, one with a text replaces it.
    lastSearch.text = "before";
    for (const char *typed : {"", "Next"}) {
        CFindNodeDlg dlg;
        dlg.field = 4;
        dlg.text = QStringLiteral("old");
        dlg.broken = 1;
        dlg.matchCase = 1;
        dlg.show();
        EXPECT_TRUE(child<QCheckBox>(dlg, "brokenCheck")->isChecked());
        EXPECT_TRUE(child<QCheckBox>(dlg, "matchCaseCheck")->isChecked());
        auto *edit = child<QLineEdit>(dlg, "textEdit");
        EXPECT_EQ(edit->text(), QStringLiteral("old"));
        edit->clear();
        QTest::keyClicks(edit, QString::fromUtf8(typed));
        clickBox(dlg, "virtualCheck");
        clickBox(dlg, "externalCheck");
        child<QRadioButton>(dlg, "labelRadio")->click();
        QTest::mouseClick(child<QPushButton>(dlg, "findButton"), Qt::LeftButton);
        EXPECT_EQ(dlg.result(), CFindNodeDlg::kFindResult);
        EXPECT_EQ(dlg.field, 3);
        EXPECT_EQ(dlg.requiredFlags(), uint32_t(BROKEN | EXTERNAL | VIRTUAL));
        EXPECT_EQ(lastSearch.text, *typed ? typed : "before");
    }
    lastSearch = {};
}

TEST(FindDialog, ProgressRepaintsAtMostEvery50MsAndCancels)
{
    CFindProgressDlg progress(QStringLiteral("needle"), nullptr);
    progress.show();
    EXPECT_EQ(CFindProgressDlg::current(), &progress);

    EXPECT_FALSE(progress.Progress("http://h/first"));
    EXPECT_EQ(progress.shownUrl(), QStringLiteral("http://h/first")); // the first at once
    int changes = 0;
    QString shown = progress.shownUrl();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; timer.elapsed() < 300; ++i) {
        EXPECT_FALSE(progress.Progress("http://h/" + std::to_string(i)));
        if (progress.shownUrl() != shown) {
            shown = progress.shownUrl();
            ++changes;
        }
    }
    // However slow the machine, no more than one change per 50 ms.
    EXPECT_LE(changes, int(timer.elapsed() / CFindProgressDlg::kRepaintMs) + 1);
    EXPECT_GE(changes, 1);

    QTest::mouseClick(progress.findChild<QPushButton *>(QStringLiteral("cancelButton")),
                      Qt::LeftButton);
    EXPECT_TRUE(progress.cancelled());
    EXPECT_FALSE(progress.isVisible());
    EXPECT_TRUE(progress.Progress("http://h/after"));
}
