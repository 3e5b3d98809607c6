#include "dialogs/CPreferencesDlg.h"
#include "dialogs/FileDialog.h"

#include "model/Config.h"
#include "platform/ConfigStore.h"
#include "tests/support/TempDir.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace sylvix;

namespace {

// Binary stands for "absent": the dialog never writes that type.
ConfigValue stored()
{
    ConfigValue value{"absent", ValueType::Binary, {}};
    ProgramKey->queryValue("BrowserCommand", value);
    return value;
}

// Runs the dialog: optionally picks a file through Browse..., types text
// (unless null), sets the check box, then presses the button. Returns the
// command the dialog opened with.
QString run(const QString &browse, const QString *text, bool verify,
            QDialogButtonBox::StandardButton button)
{
    CPreferencesDlg dlg;
    const QString shown = dlg.findChild<QLineEdit *>()->text();
    if (!browse.isNull()) {
        FileDialog::setNextFileName(browse);
        dlg.findChild<QPushButton *>(QStringLiteral("browseButton"))->click();
    }
    if (text)
        dlg.findChild<QLineEdit *>()->setText(*text);
    dlg.findChild<QCheckBox *>()->setChecked(verify);
    dlg.findChild<QDialogButtonBox *>()->button(button)->click();
    EXPECT_EQ(dlg.result(), button == QDialogButtonBox::Ok ? QDialog::Accepted : QDialog::Rejected);
    return shown;
}

} // namespace

TEST(Preferences, OkStoresTheCommandOnlyOverAnExistingStringAndTheCheckForTheRun)
{
    test::TempDir dir;
    auto store = OpenSqliteStore(dir / "registry.db");
    ASSERT_TRUE(store);
    ProgramKey = store->root()->createKey(kProgramKeyPath);
    verifyExternal = true;
    // The default shows when the value is missing or not a string, and is
    // not stored over either.
    const QString other = QStringLiteral("other");
    const QString byDefault = QStringLiteral("brovia/brovia.exe");
    EXPECT_EQ(run({}, &other, false, QDialogButtonBox::Ok), byDefault);
    EXPECT_FALSE(verifyExternal);
    EXPECT_EQ(stored().type, ValueType::Binary) << "nothing to overwrite: nothing stored";
    ASSERT_TRUE(WriteDword(*ProgramKey, "BrowserCommand", 7));
    EXPECT_EQ(run({}, &other, true, QDialogButtonBox::Ok), byDefault);
    EXPECT_TRUE(verifyExternal);
    EXPECT_EQ(stored().type, ValueType::Dword);

    // Browse fills the edit; Cancel stores nothing, OK stores the pick.
    ASSERT_TRUE(WriteString(*ProgramKey, "BrowserCommand", "old-browser --new-window"));
    const QString picked = QStringLiteral("/opt/web/bin/viewer");
    EXPECT_EQ(run(picked, nullptr, false, QDialogButtonBox::Cancel),
              QStringLiteral("old-browser --new-window"));
    EXPECT_EQ(stored().data, "old-browser --new-window");
    EXPECT_TRUE(verifyExternal);
    run(QStringLiteral(""), nullptr, true, QDialogButtonBox::Ok); // the picker cancelled
    EXPECT_EQ(stored().data, "old-browser --new-window");
    run(picked, nullptr, true, QDialogButtonBox::Ok);
    EXPECT_EQ(stored().type, ValueType::String);
    EXPECT_EQ(stored().data, picked.toStdString());

    // 1022 ASCII characters and a two-byte one: 1024 bytes, one more than
    // fits; the cut does not split the character.
    const QString text = QString(1022, QLatin1Char('a')) + QChar(0xe9);
    run({}, &text, true, QDialogButtonBox::Ok);
    EXPECT_EQ(stored().data, std::string(1022, 'a'));

    ProgramKey.reset(); // without the program's key the dialog still works
    EXPECT_EQ(run({}, &other, true, QDialogButtonBox::Ok), byDefault);
}
