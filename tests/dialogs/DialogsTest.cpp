#include "dialogs/CFindNodeDlg.h"
#include "dialogs/CFindProgressDlg.h"
#include "dialogs/CNewDocumentDlg.h"
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
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
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
        EXPECT_FALSE(find->isEnabled());
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
    dlg.show();
    EXPECT_TRUE(child<QCheckBox>(&dlg, "brokenCheck")->isChecked());
    EXPECT_TRUE(child<QCheckBox>(&dlg, "matchCaseCheck")->isChecked());
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

// The first URL shows at once, the next only 50 ms after it.
TEST(FindDialog, ProgressRepaintsAtMostEvery50Ms)
{
    CFindProgressDlg progress(QStringLiteral("needle"), nullptr);
    QElapsedTimer timer;
    timer.start();
    progress.Progress("http://h/1");
    progress.Progress("http://h/2");
    if (timer.elapsed() < CFindProgressDlg::kRepaintMs) { // else the machine stalled: no proof
        EXPECT_EQ(progress.shownUrl(), QStringLiteral("http://h/1"));
    }
    QTest::qWait(CFindProgressDlg::kRepaintMs);
    progress.Progress("http://h/3");
    EXPECT_EQ(progress.shownUrl(), QStringLiteral("http://h/3"));
}

namespace {

QString ReadResource(const QUrl &url)
{
    QFile file(QLatin1Char(':') + url.path());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

// Empty when url names an existing page (and anchor), else what is wrong.
std::string CheckTarget(const QUrl &url)
{
    if (url.scheme() != QLatin1String("qrc"))
        return "not a help resource: " + url.toString().toStdString();
    const QString text = ReadResource(url);
    if (text.isEmpty())
        return "no such page: " + url.toString().toStdString();
    if (url.hasFragment() && !text.contains(QStringLiteral("<a name=\"%1\">").arg(url.fragment())))
        return "no such anchor: " + url.toString().toStdString();
    return {};
}

} // namespace

TEST(Help, EveryKeywordFindsItsPageInOneWindow)
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

    // One window, which follows the page it shows.
    ShowHelp(QStringLiteral("contents"));
    HelpWindow *window = HelpWindow::instance();
    ShowHelp(QStringLiteral("Keyboard"));
    EXPECT_EQ(HelpWindow::instance(), window);
    ASSERT_TRUE(window && window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Sylvix Help - Keys"));
    window->close(); // deleted on close; the next call opens a new one
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(HelpWindow::instance(), nullptr);
}

TEST(Help, LinksAndPicturesBetweenPagesResolve)
{
    InitResources();
    QStringList pages;
    for (QDirIterator it(QStringLiteral(":/help")); it.hasNext();)
        pages << it.next();
    const QRegularExpression ref(QStringLiteral("(href|src)=\"([^\"]+)\""));
    int pictures = 0;
    for (const QString &path : pages) {
        const QUrl base(QStringLiteral("qrc") + path);
        const QString text = ReadResource(base);
        ASSERT_FALSE(text.isEmpty()) << path.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("<title>"))) << path.toStdString();
        for (const auto &m : ref.globalMatch(text)) {
            const QUrl target = base.resolved(QUrl(m.captured(2)));
            EXPECT_EQ(CheckTarget(target), "") << "in " << path.toStdString();
            if (m.captured(1) == QLatin1String("src")) {
                ++pictures;
                // Decoded through the SVG image plugin, as the help browser does.
                EXPECT_FALSE(QImage(QLatin1Char(':') + target.path()).isNull())
                    << target.toString().toStdString();
            }
        }
    }
    EXPECT_GE(pictures, 20 + 6 + 2 + 13) << "the icons page shows every icon";
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
    CNewDocumentDlg newDocument; // the same for New Document; closed should it show
    newDocument.SetDocumentType("image/jpeg");
    QTimer::singleShot(0, &newDocument, [&] { newDocument.reject(); });
    EXPECT_EQ(newDocument.exec(), QDialog::Rejected);
    EXPECT_TRUE(newDocument.noWizards());
}

// The list in name order; a wizard without values keeps the previous
// description and command line; a double click ends with the wizard's.
TEST_F(SettingsDialogs, TheSelectionShowsItsWizardAndADoubleClickChoosesIt)
{
    CSelectWizardDlg dialog;
    dialog.SetDocumentType("text/html");
    onNextDialog([&](QDialog *) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Select Wizard"));
        EXPECT_FALSE(dialog.findChild<QWidget *>(QStringLiteral("radioUseWizard")));
        auto *list = child<QListWidget>(&dialog, "listWizards");
        ASSERT_EQ(list->count(), 3);
        QTest::keyClick(list, Qt::Key_Down); // from Alpha Page to Bare
        EXPECT_EQ(
            std::tuple(list->currentItem()->text(),
                       child<QLabel>(&dialog, "labelDescription")->text(), dialog.commandLine()),
            std::tuple(QStringLiteral("Bare"), QStringLiteral("First by name"), "alpha.sh %s"s));
        const QPoint at = list->visualItemRect(list->item(2)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.commandLine(), "zeta.sh %s");
    EXPECT_EQ(dialog.wizardName(), QStringLiteral("Zeta Page"));
}

// Runs of Preferences in turn, each on what the one before left.
TEST_F(SettingsDialogs, PreferencesStoresTheCommandOnlyOverAnExistingStringAndTheCheckForTheRun)
{
    const std::string byDefault = "brovia/brovia.exe", old = "old-browser --new-window";
    const QString other = QStringLiteral("other"), picked = QStringLiteral("/opt/web/bin/viewer");
    // 1022 ASCII characters and a two-byte one: 1024 bytes, one more than
    // fits; the cut does not split the character.
    const QString tooLong = QString(1022, QLatin1Char('a')) + QChar(0xe9);
    const struct
    {
        std::optional<ConfigValue> before; // written first
        QString browse, typed;             // null: not used; an empty pick is a cancelled picker
        bool verify, ok;
        std::string shown, stored; // "-": absent; "#4": a value of that type
    } runs[] = {
        // The default shows when the value is missing or not a string, and
        // is not stored over either.
        {{}, {}, other, false, true, byDefault, "-"},
        {ConfigValue{"", ValueType::Dword, "\x07\0\0\0"s}, {}, other, true, true, byDefault, "#4"},
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
        const std::string stored = !ProgramKey->queryValue("BrowserCommand", v) ? "-"
                                   : v.type == ValueType::String
                                       ? v.data
                                       : "#" + std::to_string(int(v.type));
        EXPECT_EQ(std::tuple(dlg.result(), shown, stored, verifyExternal),
                  std::tuple(r.ok ? QDialog::Accepted : QDialog::Rejected, r.shown, r.stored,
                             r.ok ? r.verify : verifyBefore));
    }
    ProgramKey.reset(); // without the program's key the dialog still works
    CPreferencesDlg dlg;
    EXPECT_EQ(dlg.findChild<QLineEdit *>()->text().toStdString(), byDefault);
    dlg.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
}
