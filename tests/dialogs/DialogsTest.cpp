#include "dialogs/CFindNodeDlg.h"
#include "dialogs/CFindProgressDlg.h"
#include "dialogs/CNewDocumentDlg.h"
#include "dialogs/CPreferencesDlg.h"
#include "dialogs/CSelectWizardDlg.h"
#include "dialogs/FileDialog.h"
#include "dialogs/FindState.h"
#include "dialogs/HelpWindow.h"

#include "cli/RegFile.h"
#include "model/Config.h"
#include "model/SiteNode.h"
#include "platform/ConfigStore.h"
#include "resources/CommandTable.h"
#include "resources/Icons.h"
#include "tests/support/GuiTest.h"
#include "tests/support/TempDir.h"

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
#include <QTextBrowser>
#include <QTimer>

#include <gtest/gtest.h>

using namespace sylvix;
using namespace sylvix::test;

namespace {

// A click on the indicator: the box may be wider than what it draws.
void clickBox(QWidget &dlg, const char *name)
{
    auto *box = child<QCheckBox>(&dlg, name);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
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
        SCOPED_TRACE(c.checkBox ? c.checkBox : c.typed);
        CFindNodeDlg dlg;
        dlg.field = 1;
        dlg.show();
        auto *find = child<QPushButton>(&dlg, "findButton");
        EXPECT_FALSE(find->isEnabled());
        EXPECT_TRUE(child<QRadioButton>(&dlg, "fileNameRadio")->isChecked());
        QTest::keyClicks(child<QLineEdit>(&dlg, "textEdit"), QString::fromUtf8(c.typed));
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
        EXPECT_TRUE(child<QCheckBox>(&dlg, "brokenCheck")->isChecked());
        EXPECT_TRUE(child<QCheckBox>(&dlg, "matchCaseCheck")->isChecked());
        auto *edit = child<QLineEdit>(&dlg, "textEdit");
        EXPECT_EQ(edit->text(), QStringLiteral("old"));
        edit->clear();
        QTest::keyClicks(edit, QString::fromUtf8(typed));
        for (const char *box : {"virtualCheck", "externalCheck", "matchCaseCheck"})
            clickBox(dlg, box);
        child<QRadioButton>(&dlg, "labelRadio")->click();
        QTest::mouseClick(child<QPushButton>(&dlg, "findButton"), Qt::LeftButton);
        EXPECT_EQ(dlg.result(), CFindNodeDlg::kFindResult);
        EXPECT_EQ(dlg.field, 3);
        EXPECT_EQ(dlg.matchCase, 0);
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
    for (const Command &c : Commands()) {
        for (bool inView : {false, true}) {
            if (const char *k = HelpKeyword(c.id, inView))
                keywords.push_back(QLatin1String(k));
        }
    }
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

    ShowHelp(QStringLiteral("contents"));
    HelpWindow *window = HelpWindow::instance();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->windowTitle().contains(QStringLiteral("Sylvix Help")));
    ShowHelp(QStringLiteral("Keyboard"));
    EXPECT_EQ(HelpWindow::instance(), window);
    EXPECT_EQ(window->source(), HelpPageFor(QStringLiteral("keyboard")));
    EXPECT_TRUE(window->windowTitle().contains(QStringLiteral("Keys")));
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
    EXPECT_GE(pages.size(), 8);
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
                // The browser decodes pictures through the SVG image plugin.
                QTextBrowser browser;
                browser.setSource(base);
                const QByteArray data
                    = browser.loadResource(QTextDocument::ImageResource, target).toByteArray();
                EXPECT_FALSE(QImage::fromData(data).isNull()) << target.toString().toStdString();
            }
        }
    }
    EXPECT_GE(pictures, 20 + 6 + 2 + 13) << "the icons page shows every icon";
}

// A store of its own with the wizards of data/wizards.reg and no browser
// command, opened as the configuration in use.
class SettingsDialogs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto store = OpenSqliteStore(m_dir / "registry.db");
        const std::string reg
            = readFile(std::string(SYLVIX_SOURCE_DIR) + "/tests/dialogs/data/wizards.reg");
        std::string error;
        ASSERT_TRUE(store && ImportRegText(*store, reg, "wizards.reg", error)) << error;
        UseStores(std::move(store));
        ASSERT_EQ(OpenConfiguration(nullptr), OpenConfigResult::Ok);
    }
    void TearDown() override { CloseConfiguration(); }

    TempDir m_dir;
};

// Types without wizards end the dialog before it shows; a type key without
// wizards shows "None"; a long command line is cut to its buffer.
TEST_F(SettingsDialogs, TypesWithoutWizardsEmptyOrLong)
{
    // Rejected without ever showing (a shown one is closed, not to block).
    auto neverShown = [](CWizardDlgBase &dialog, const char *type) {
        dialog.SetDocumentType(type);
        bool shown = false;
        QTimer::singleShot(0, &dialog, [&] {
            shown = dialog.isVisible();
            dialog.reject();
        });
        return dialog.exec() == QDialog::Rejected && !shown && dialog.noWizards();
    };
    for (const char *type : {"image/gif", "", "text"}) {
        CSelectWizardDlg dialog;
        EXPECT_TRUE(neverShown(dialog, type)) << type;
        EXPECT_TRUE(dialog.commandLine().empty());
    }
    {
        // Gone before the next dialog runs, with the check's timer.
        CNewDocumentDlg newDocument;
        EXPECT_TRUE(neverShown(newDocument, "image/jpeg"));
    }

    CSelectWizardDlg plain;
    plain.SetDocumentType("text/plain");
    onNextDialog([&](QDialog *) {
        EXPECT_EQ(child<QListWidget>(&plain, "listWizards")->count(), 0);
        EXPECT_EQ(child<QLabel>(&plain, "labelDescription")->text(), QStringLiteral("None"));
        QTest::mouseClick(child<QPushButton>(&plain, "buttonOk"), Qt::LeftButton);
    });
    EXPECT_EQ(plain.exec(), QDialog::Accepted);
    EXPECT_FALSE(plain.noWizards());
    EXPECT_EQ(plain.commandLine(), "");

    CSelectWizardDlg css;
    css.SetDocumentType("text/css");
    onNextDialog([](QDialog *d) { d->accept(); });
    EXPECT_EQ(css.exec(), QDialog::Accepted);
    EXPECT_EQ(css.commandLine(), std::string(511, 'x'));
}

// The list in name order; a wizard without values keeps the previous
// description and command line; a double click ends with the wizard's.
TEST_F(SettingsDialogs, TheSelectionShowsItsWizardAndADoubleClickChoosesIt)
{
    CSelectWizardDlg dialog;
    dialog.SetDocumentType("text/html");
    const struct
    {
        const char *name, *description, *commandLine;
    } steps[] = {
        {"Alpha Page", "First by name", "alpha.sh %s"},
        {"Bare", "First by name", "alpha.sh %s"},
        {"Zeta Page", "Last by name", "zeta.sh %s"},
    };
    onNextDialog([&](QDialog *) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Select Wizard"));
        EXPECT_EQ(child<QPushButton>(&dialog, "buttonHelp")->text(), QStringLiteral("Help"));
        EXPECT_FALSE(dialog.findChild<QWidget *>(QStringLiteral("radioUseWizard")));
        auto *list = child<QListWidget>(&dialog, "listWizards");
        ASSERT_EQ(list->count(), 3);
        for (const auto &s : steps) {
            EXPECT_EQ(list->currentItem()->text(), QString::fromUtf8(s.name));
            EXPECT_EQ(child<QLabel>(&dialog, "labelDescription")->text(),
                      QString::fromUtf8(s.description))
                << s.name;
            EXPECT_EQ(dialog.commandLine(), s.commandLine) << s.name;
            QTest::keyClick(list, Qt::Key_Down);
        }
        list->setCurrentRow(0);
        const QPoint at = list->visualItemRect(list->item(2)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.commandLine(), "zeta.sh %s");
    EXPECT_EQ(dialog.wizardName(), QStringLiteral("Zeta Page"));
}

namespace {

// Binary stands for "absent": the dialog never writes that type.
ConfigValue storedBrowser()
{
    ConfigValue value{"absent", ValueType::Binary, {}};
    ProgramKey->queryValue("BrowserCommand", value);
    return value;
}

// Runs Preferences: optionally picks a file through Browse..., types text
// (unless null), sets the check box, then presses the button. Returns the
// command the dialog opened with.
QString runPreferences(const QString &browse, const QString *text, bool verify,
                       QDialogButtonBox::StandardButton button)
{
    CPreferencesDlg dlg;
    const QString shown = dlg.findChild<QLineEdit *>()->text();
    if (!browse.isNull()) {
        FileDialog::setNextFileName(browse);
        child<QPushButton>(&dlg, "browseButton")->click();
    }
    if (text)
        dlg.findChild<QLineEdit *>()->setText(*text);
    dlg.findChild<QCheckBox *>()->setChecked(verify);
    dlg.findChild<QDialogButtonBox *>()->button(button)->click();
    EXPECT_EQ(dlg.result(), button == QDialogButtonBox::Ok ? QDialog::Accepted : QDialog::Rejected);
    return shown;
}

} // namespace

TEST_F(SettingsDialogs, PreferencesStoresTheCommandOnlyOverAnExistingStringAndTheCheckForTheRun)
{
    verifyExternal = true;
    // The default shows when the value is missing or not a string, and is
    // not stored over either.
    const QString other = QStringLiteral("other");
    const QString byDefault = QStringLiteral("brovia/brovia.exe");
    EXPECT_EQ(runPreferences({}, &other, false, QDialogButtonBox::Ok), byDefault);
    EXPECT_FALSE(verifyExternal);
    EXPECT_EQ(storedBrowser().type, ValueType::Binary) << "nothing to overwrite: nothing stored";
    ASSERT_TRUE(WriteDword(*ProgramKey, "BrowserCommand", 7));
    EXPECT_EQ(runPreferences({}, &other, true, QDialogButtonBox::Ok), byDefault);
    EXPECT_TRUE(verifyExternal);
    EXPECT_EQ(storedBrowser().type, ValueType::Dword);

    // Browse fills the edit; Cancel stores nothing, OK stores the pick.
    ASSERT_TRUE(WriteString(*ProgramKey, "BrowserCommand", "old-browser --new-window"));
    const QString picked = QStringLiteral("/opt/web/bin/viewer");
    EXPECT_EQ(runPreferences(picked, nullptr, false, QDialogButtonBox::Cancel),
              QStringLiteral("old-browser --new-window"));
    EXPECT_EQ(storedBrowser().data, "old-browser --new-window");
    EXPECT_TRUE(verifyExternal);
    runPreferences(QStringLiteral(""), nullptr, true, QDialogButtonBox::Ok); // the picker cancelled
    EXPECT_EQ(storedBrowser().data, "old-browser --new-window");
    runPreferences(picked, nullptr, true, QDialogButtonBox::Ok);
    EXPECT_EQ(storedBrowser().type, ValueType::String);
    EXPECT_EQ(storedBrowser().data, picked.toStdString());

    // 1022 ASCII characters and a two-byte one: 1024 bytes, one more than
    // fits; the cut does not split the character.
    const QString text = QString(1022, QLatin1Char('a')) + QChar(0xe9);
    runPreferences({}, &text, true, QDialogButtonBox::Ok);
    EXPECT_EQ(storedBrowser().data, std::string(1022, 'a'));

    ProgramKey.reset(); // without the program's key the dialog still works
    EXPECT_EQ(runPreferences({}, &other, true, QDialogButtonBox::Ok), byDefault);
}
