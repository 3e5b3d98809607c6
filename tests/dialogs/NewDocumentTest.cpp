#include "dialogs/CNewDocumentDlg.h"
#include "tests/dialogs/SelectWizardStore.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace sylvix;
using namespace sylvix::test;

using NewDocument = WizardStore;

TEST_F(NewDocument, TheWizardControlsFollowTheChoice)
{
    CNewDocumentDlg dialog;
    dialog.SetDocumentType("text/html");
    const char *wizardParts[]
        = {"labelWizard", "listWizards", "groupDescription", "labelDescription"};
    auto partsEnabled = [&](bool on) {
        for (const char *name : wizardParts) {
            auto *w = dialog.findChild<QWidget *>(QLatin1String(name));
            ASSERT_TRUE(w) << name;
            EXPECT_EQ(w->isEnabled(), on) << name;
        }
    };
    auto *askEditor = dialog.findChild<QRadioButton *>(QStringLiteral("radioAskEditor"));
    auto *useWizard = dialog.findChild<QRadioButton *>(QStringLiteral("radioUseWizard"));
    const int result = runWith(dialog, [&] {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("New Document"));
        EXPECT_TRUE(askEditor->isChecked());
        EXPECT_EQ(dialog.choice(), 0);
        partsEnabled(false);
        // Already chosen and read while the list is off.
        EXPECT_EQ(dialog.wizardName(), QStringLiteral("Alpha Page"));
        EXPECT_EQ(dialog.commandLine(), "alpha.sh %s");
        shoot(dialog, "new-document-editor.png");

        QTest::mouseClick(useWizard, Qt::LeftButton);
        EXPECT_EQ(dialog.choice(), 1);
        partsEnabled(true);
        shoot(dialog, "new-document-wizard.png");
        QTest::mouseClick(askEditor, Qt::LeftButton);
        EXPECT_EQ(dialog.choice(), 0);
        partsEnabled(false);
        QTest::mouseClick(useWizard, Qt::LeftButton);
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("buttonOk")),
                          Qt::LeftButton);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(dialog.choice(), 1);
    EXPECT_EQ(dialog.commandLine(), "alpha.sh %s");
}

TEST_F(NewDocument, WithoutWizardsItIsNeverSeen)
{
    CNewDocumentDlg dialog;
    dialog.SetDocumentType("image/jpeg");
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_TRUE(dialog.noWizards());
    EXPECT_FALSE(dialog.isVisible());
}
