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

class Preferences : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_store = OpenSqliteStore(m_dir / "registry.db");
        ASSERT_TRUE(m_store);
        ProgramKey = m_store->root()->createKey(kProgramKeyPath);
        ASSERT_TRUE(ProgramKey);
        verifyExternal = true;
    }
    void TearDown() override
    {
        ProgramKey.reset();
        m_store.reset();
    }

    std::optional<ConfigValue> stored() const
    {
        ConfigValue value;
        if (!ProgramKey->queryValue("BrowserCommand", value))
            return std::nullopt;
        return value;
    }

    static QLineEdit *edit(CPreferencesDlg &dlg)
    {
        return dlg.findChild<QLineEdit *>(QStringLiteral("browserEdit"));
    }
    static QCheckBox *verify(CPreferencesDlg &dlg)
    {
        return dlg.findChild<QCheckBox *>(QStringLiteral("verifyCheck"));
    }
    static void press(CPreferencesDlg &dlg, QDialogButtonBox::StandardButton which)
    {
        dlg.findChild<QDialogButtonBox *>()->button(which)->click();
    }
    static void browse(CPreferencesDlg &dlg, const QString &answer)
    {
        FileDialog::setNextFileName(answer);
        dlg.findChild<QPushButton *>(QStringLiteral("browseButton"))->click();
    }

    test::TempDir m_dir;
    std::unique_ptr<ConfigStore> m_store;
};

} // namespace

TEST_F(Preferences, WithoutStoredCommandProposesDefaultAndStoresNothing)
{
    CPreferencesDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Sylvix Preferences"));
    EXPECT_EQ(edit(dlg)->text(), QStringLiteral("brovia/brovia.exe"));
    EXPECT_TRUE(verify(dlg)->isChecked());
    verify(dlg)->setChecked(false);
    press(dlg, QDialogButtonBox::Ok);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(verifyExternal);
    EXPECT_FALSE(stored()) << "OK does not create the value";
}

TEST_F(Preferences, BrowsedCommandIsStoredOnOkNotOnCancel)
{
    ASSERT_TRUE(WriteString(*ProgramKey, "BrowserCommand", "old-browser --new-window"));
    {
        CPreferencesDlg dlg;
        EXPECT_EQ(edit(dlg)->text(), QStringLiteral("old-browser --new-window"));
        browse(dlg, QStringLiteral("/opt/web/bin/viewer"));
        EXPECT_EQ(edit(dlg)->text(), QStringLiteral("/opt/web/bin/viewer"));
        verify(dlg)->setChecked(false);
        press(dlg, QDialogButtonBox::Cancel);
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
    }
    EXPECT_EQ(stored()->data, "old-browser --new-window");
    EXPECT_TRUE(verifyExternal);

    CPreferencesDlg dlg;
    browse(dlg, QString()); // the user cancels the picker
    EXPECT_EQ(edit(dlg)->text(), QStringLiteral("old-browser --new-window"));
    browse(dlg, QStringLiteral("/opt/web/bin/viewer"));
    press(dlg, QDialogButtonBox::Ok);
    ASSERT_TRUE(stored());
    EXPECT_EQ(stored()->type, ValueType::String);
    EXPECT_EQ(stored()->data, "/opt/web/bin/viewer");
}

TEST_F(Preferences, OnlyAStringValueIsReadOrReplaced)
{
    ASSERT_TRUE(WriteDword(*ProgramKey, "BrowserCommand", 7));
    {
        CPreferencesDlg dlg;
        EXPECT_EQ(edit(dlg)->text(), QStringLiteral("brovia/brovia.exe"));
        edit(dlg)->setText(QStringLiteral("other"));
        press(dlg, QDialogButtonBox::Ok);
    }
    EXPECT_EQ(stored()->type, ValueType::Dword);

    // Without the program's key at all the dialog still works.
    ProgramKey.reset();
    CPreferencesDlg dlg;
    EXPECT_EQ(edit(dlg)->text(), QStringLiteral("brovia/brovia.exe"));
    verify(dlg)->setChecked(false);
    press(dlg, QDialogButtonBox::Ok);
    EXPECT_FALSE(verifyExternal);
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
    EXPECT_EQ(stored()->data, std::string(1022, 'a'));
}
