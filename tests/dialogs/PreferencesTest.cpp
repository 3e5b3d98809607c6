#include "dialogs/CPreferencesDlg.h"
#include "dialogs/FileDialog.h"

#include "model/Config.h"
#include "tests/model/ModelFixture.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace sylvix;

namespace {

// A dialog on a fresh store with the program's key, checking switched on.
class Preferences : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_store = OpenSqliteStore(m_dir / "registry.db");
        ASSERT_TRUE(m_store);
        ProgramKey = m_store->root()->createKey(kProgramKeyPath);
        verifyExternal = true;
    }
    void TearDown() override
    {
        ProgramKey.reset();
        m_store.reset();
    }

    static ConfigValue stored()
    {
        // Binary stands for "absent": the dialog never writes that type.
        ConfigValue value{"absent", ValueType::Binary, {}};
        ProgramKey->queryValue("BrowserCommand", value);
        return value;
    }
    static QLineEdit *edit(QDialog &d) { return d.findChild<QLineEdit *>(); }
    static QCheckBox *verify(QDialog &d) { return d.findChild<QCheckBox *>(); }
    static void press(QDialog &d, QDialogButtonBox::StandardButton which)
    {
        d.findChild<QDialogButtonBox *>()->button(which)->click();
    }
    static void browse(QDialog &d, const QString &answer)
    {
        FileDialog::setNextFileName(answer);
        d.findChild<QPushButton *>(QStringLiteral("browseButton"))->click();
    }

    test::TempDir m_dir;
    std::unique_ptr<ConfigStore> m_store;
};

const QString kDefault = QStringLiteral("brovia/brovia.exe");

} // namespace

TEST_F(Preferences, OkStoresOnlyOverAnExistingStringCommand)
{
    for (bool asDword : {false, true}) {
        if (asDword) {
            ASSERT_TRUE(WriteDword(*ProgramKey, "BrowserCommand", 7));
        }
        CPreferencesDlg dlg;
        EXPECT_EQ(edit(dlg)->text(), kDefault);
        EXPECT_TRUE(verify(dlg)->isChecked());
        edit(dlg)->setText(QStringLiteral("other"));
        verify(dlg)->setChecked(false);
        press(dlg, QDialogButtonBox::Ok);
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        EXPECT_FALSE(verifyExternal);
        EXPECT_EQ(stored().type, asDword ? ValueType::Dword : ValueType::Binary) << "untouched";
        verifyExternal = true;
    }
    ProgramKey.reset(); // without the program's key the dialog still works
    CPreferencesDlg dlg;
    EXPECT_EQ(edit(dlg)->text(), kDefault);
    press(dlg, QDialogButtonBox::Ok);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
}

TEST_F(Preferences, BrowsedCommandIsStoredOnOkNotOnCancel)
{
    ASSERT_TRUE(WriteString(*ProgramKey, "BrowserCommand", "old-browser --new-window"));
    const QString picked = QStringLiteral("/opt/web/bin/viewer");
    {
        CPreferencesDlg dlg;
        EXPECT_EQ(edit(dlg)->text(), QStringLiteral("old-browser --new-window"));
        browse(dlg, picked);
        EXPECT_EQ(edit(dlg)->text(), picked);
        verify(dlg)->setChecked(false);
        press(dlg, QDialogButtonBox::Cancel);
    }
    EXPECT_EQ(stored().data, "old-browser --new-window");
    EXPECT_TRUE(verifyExternal);

    CPreferencesDlg dlg;
    browse(dlg, QString()); // the user cancels the picker
    EXPECT_EQ(edit(dlg)->text(), QStringLiteral("old-browser --new-window"));
    browse(dlg, picked);
    press(dlg, QDialogButtonBox::Ok);
    EXPECT_EQ(stored().type, ValueType::String);
    EXPECT_EQ(stored().data, picked.toStdString());
}

TEST_F(Preferences, LongCommandIsCutWithoutSplittingACharacter)
{
    ASSERT_TRUE(WriteString(*ProgramKey, "BrowserCommand", "x"));
    CPreferencesDlg dlg;
    // 1022 ASCII characters and a two-byte one: 1024 bytes, one more than fits.
    const QString text = QString(1022, QLatin1Char('a')) + QChar(0xe9);
    edit(dlg)->setText(text);
    ASSERT_EQ(edit(dlg)->text(), text);
    press(dlg, QDialogButtonBox::Ok);
    EXPECT_EQ(stored().data, std::string(1022, 'a'));
}
