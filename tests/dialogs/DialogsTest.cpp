#include "dialogs/CFindNodeDlg.h"
#include "dialogs/CPreferencesDlg.h"
#include "dialogs/CSelectWizardDlg.h"
#include "dialogs/FileDialog.h"
#include "dialogs/FindState.h"
#include "dialogs/HelpWindow.h"

#include "model/Config.h"
#include "model/SiteNode.h"
#include "platform/ConfigStore.h"
#include "resources/CommandTable.h"
#include "resources/Icons.h"
#include "tests/app/DemoStore.h"
#include "tests/support/GuiTest.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

using namespace sylvix;
using namespace sylvix::test;
using namespace std::string_literals;

namespace {

// A click on the indicator: the box may be wider than what it draws.
void clickBox(QWidget &dlg, const char *name)
{
    auto *box = child<QCheckBox>(&dlg, name);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

} // namespace

// The Find button needs a text or a flag; a Find with an empty edit keeps
// the stored text. The dialog opens on earlier choices and hands them back.
TEST(FindDialog, FindButtonRuleAndWhatFindStores)
{
    lastSearch = {};
    lastSearch.text = "before";
    const struct
    {
        const char *typed;
        const char *checkBox; // clicked after typing, or null
        bool findOn;
        const char *stored; // the text searched for afterwards
    } cases[] = {
        {"", nullptr, false, "before"},
        {"", "matchCaseCheck", false, "before"},
        {"", "brokenCheck", true, "before"}, // a flag alone is a search
        {"x", nullptr, true, "x"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.checkBox ? c.checkBox : c.typed);
        CFindNodeDlg dlg;
        dlg.show();
        auto *find = child<QPushButton>(&dlg, "findButton");
        QTest::keyClicks(child<QLineEdit>(&dlg, "textEdit"), QString::fromUtf8(c.typed));
        if (c.checkBox)
            clickBox(dlg, c.checkBox);
        EXPECT_EQ(find->isEnabled(), c.findOn);
        EXPECT_EQ(find->isDefault(), c.findOn);
        QTest::mouseClick(find, Qt::LeftButton);
        EXPECT_EQ(lastSearch.text, c.stored);
    }

    CFindNodeDlg dlg;
    dlg.field = 4;
    dlg.text = QStringLiteral("old");
    dlg.broken = 1;
    dlg.matchCase = 1;
    dlg.show(); // the clicks below turn Match Case off, and Broken stays on
    for (const char *box : {"virtualCheck", "externalCheck", "matchCaseCheck"})
        clickBox(dlg, box);
    child<QRadioButton>(&dlg, "labelRadio")->click();
    QTest::mouseClick(child<QPushButton>(&dlg, "findButton"), Qt::LeftButton);
    EXPECT_EQ(
        std::tuple(dlg.result(), dlg.field, dlg.matchCase, dlg.requiredFlags()),
        std::tuple(int(CFindNodeDlg::kFindResult), 3, 0, uint32_t(BROKEN | EXTERNAL | VIRTUAL)));
    EXPECT_EQ(lastSearch.text, "old");
    lastSearch = {};
}

namespace {

QString ReadResource(const QUrl &url)
{
    QFile file(QLatin1Char(':') + url.path());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Empty when url names an existing page (and anchor), else what is wrong.
std::string CheckTarget(const QUrl &url)
{
    const QString text = url.scheme() == QLatin1String("qrc") ? ReadResource(url) : QString();
    if (text.isEmpty())
        return "no such page: " + url.toString().toStdString();
    if (url.hasFragment() && !text.contains(QStringLiteral("<a name=\"%1\">").arg(url.fragment())))
        return "no such anchor: " + url.toString().toStdString();
    return {};
}

} // namespace

// Every keyword finds a page of its own; the pages' links and pictures lead
// to existing pages, anchors and files.
TEST(Help, KeywordsLinksAndPicturesResolve)
{
    std::vector<QString> keywords = {QStringLiteral("Examining document properties")};
    for (const HelpTopic &t : HelpTopics())
        keywords.push_back(QLatin1String(t.keyword));
    for (const Command &c : Commands())
        for (bool inView : {false, true})
            if (const char *k = HelpKeyword(c.id, inView))
                keywords.push_back(QLatin1String(k));
    const QUrl index = HelpPageFor(QStringLiteral("index"));
    for (const QString &k : keywords) {
        const QUrl page = HelpPageFor(k);
        EXPECT_EQ(CheckTarget(page), "") << k.toStdString();
        if (k.compare(QLatin1String("index"), Qt::CaseInsensitive) != 0) {
            EXPECT_NE(page, index) << k.toStdString() << " falls back to the index";
        }
    }
    EXPECT_EQ(HelpPageFor(QStringLiteral("KEYBOARD")), HelpPageFor(QStringLiteral("keys")));
    EXPECT_EQ(HelpPageFor(QStringLiteral("no such topic")), index);
    EXPECT_EQ(CheckTarget(index), "");

    InitResources();
    const QRegularExpression ref(QStringLiteral("(href|src)=\"([^\"]+)\""));
    for (QDirIterator it(QStringLiteral(":/help")); it.hasNext();) {
        const QUrl base(QStringLiteral("qrc") + it.next());
        for (const auto &m : ref.globalMatch(ReadResource(base)))
            EXPECT_EQ(CheckTarget(base.resolved(QUrl(m.captured(2)))), "")
                << "in " << base.toString().toStdString();
    }
}

// The wizards of data/wizards.reg and no browser command, as the
// configuration in use.
class SettingsDialogs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_store.use();
        ASSERT_EQ(OpenConfiguration(nullptr), OpenConfigResult::Ok);
    }

    DemoStore m_store{std::string(SYLVIX_SOURCE_DIR) + "/tests/dialogs/data", "wizards.reg", false};
};

// Types without wizards end the dialog before it shows; a type key without
// wizards shows "None"; a long command line is cut to its buffer.
TEST_F(SettingsDialogs, TypesWithoutWizardsEmptyOrLong)
{
    const struct
    {
        const char *type;
        bool shown;
        QString description;
        std::string commandLine;
    } cases[] = {
        {"", false, {}, ""},
        {"text", false, {}, ""}, // no type key, though text/html has one
        {"text/plain", true, QStringLiteral("None"), ""},
        {"text/css", true, QStringLiteral("Very long"), std::string(511, 'x')},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.type);
        CSelectWizardDlg dialog;
        dialog.SetDocumentType(c.type);
        bool shown = false;
        QString description;
        // Runs only if the dialog shows; a dialog that ends at once drops it.
        QTimer::singleShot(0, &dialog, [&] {
            shown = dialog.isVisible();
            description = child<QLabel>(&dialog, "labelDescription")->text();
            QTest::mouseClick(child<QPushButton>(&dialog, "buttonOk"), Qt::LeftButton);
        });
        EXPECT_EQ(dialog.exec(), c.shown ? QDialog::Accepted : QDialog::Rejected);
        EXPECT_EQ(std::tuple(shown, dialog.noWizards(), description, dialog.commandLine()),
                  std::tuple(c.shown, !c.shown, c.description, c.commandLine));
    }
}

// The list in name order; a wizard without values keeps the previous
// description and command line; a double click ends with the wizard's.
TEST_F(SettingsDialogs, TheSelectionShowsItsWizardAndADoubleClickChoosesIt)
{
    CSelectWizardDlg dialog;
    dialog.SetDocumentType("text/html");
    onNextDialog([&](QDialog *) {
        auto *list = child<QListWidget>(&dialog, "listWizards");
        ASSERT_EQ(list->count(), 3);
        QTest::keyClick(list, Qt::Key_Down); // from Alpha Page to Bare
        EXPECT_EQ(
            std::tuple(child<QLabel>(&dialog, "labelDescription")->text(), dialog.commandLine()),
            std::tuple(QStringLiteral("First by name"), "alpha.sh %s"s));
        const QPoint at = list->visualItemRect(list->item(2)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(std::tuple(dialog.commandLine(), dialog.wizardName()),
              std::tuple("zeta.sh %s"s, QStringLiteral("Zeta Page")));
}

// Runs of Preferences in turn, each on what the one before left.
TEST_F(SettingsDialogs, PreferencesStoresTheCommandOnlyOverAnExistingStringAndTheCheckForTheRun)
{
    const std::string byDefault = "brovia/brovia.exe", old = "old -n", dword = "\x07\0\0\0"s;
    const QString other = QStringLiteral("other"), picked = QStringLiteral("/opt/web/bin/viewer");
    // 1022 ASCII characters and a two-byte one: 1024 bytes, one more than
    // fits; the cut does not split the character.
    const QString tooLong = QString(1022, QLatin1Char('a')) + QChar(0xe9);
    const struct
    {
        std::optional<ConfigValue> before; // written first
        QString browse, typed;             // null: not used; an empty pick is a cancelled picker
        bool verify, ok;
        std::string shown, stored; // "-": absent
    } runs[] = {
        // The default shows when the value is missing or not a string, and
        // is not stored over either.
        {{}, {}, other, false, true, byDefault, "-"},
        {ConfigValue{"", ValueType::Dword, dword}, {}, other, true, true, byDefault, dword},
        {ConfigValue{"", ValueType::String, old}, picked, {}, false, false, old, old},
        {{}, QStringLiteral(""), {}, true, true, old, old},
        {{}, picked, {}, true, true, old, picked.toStdString()},
        {{}, {}, tooLong, true, true, picked.toStdString(), std::string(1022, 'a')},
    };
    verifyExternal = true;
    for (const auto &r : runs) {
        SCOPED_TRACE(r.stored);
        if (r.before) {
            ASSERT_TRUE(ProgramKey->setValue("BrowserCommand", r.before->type, r.before->data));
        }
        const bool verifyBefore = verifyExternal;
        CPreferencesDlg dlg;
        const std::string shown = dlg.findChild<QLineEdit *>()->text().toStdString();
        if (!r.browse.isNull()) {
            FileDialog::setNextFileName(r.browse);
            child<QPushButton>(&dlg, "browseButton")->click();
        }
        if (!r.typed.isNull())
            dlg.findChild<QLineEdit *>()->setText(r.typed);
        dlg.findChild<QCheckBox *>()->setChecked(r.verify);
        dlg.findChild<QDialogButtonBox *>()
            ->button(r.ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)
            ->click();
        ConfigValue v;
        const std::string stored = ProgramKey->queryValue("BrowserCommand", v) ? v.data : "-";
        EXPECT_EQ(std::tuple(dlg.result(), shown, stored, verifyExternal),
                  std::tuple(r.ok ? QDialog::Accepted : QDialog::Rejected, r.shown, r.stored,
                             r.ok ? r.verify : verifyBefore));
    }
}
