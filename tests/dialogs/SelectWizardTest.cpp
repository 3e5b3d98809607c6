#include "dialogs/CSelectWizardDlg.h"
#include "tests/dialogs/SelectWizardStore.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace sylvix;
using namespace sylvix::test;

using SelectWizard = WizardStore;

namespace {

QListWidget *wizardList(QDialog &d)
{
    return d.findChild<QListWidget *>(QStringLiteral("listWizards"));
}

QString description(QDialog &d)
{
    return d.findChild<QLabel *>(QStringLiteral("labelDescription"))->text();
}

} // namespace

TEST_F(SelectWizard, ATypeWithoutWizardsEndsTheDialogBeforeItShows)
{
    for (const char *type : {"image/gif", "", "text"}) {
        CSelectWizardDlg dialog;
        dialog.SetDocumentType(type);
        bool shown = false;
        EXPECT_EQ(runWith(dialog, [&] { shown = dialog.isVisible(); }), QDialog::Rejected) << type;
        EXPECT_TRUE(dialog.noWizards()) << type;
        EXPECT_TRUE(dialog.commandLine().empty());
        QCoreApplication::processEvents();
        EXPECT_FALSE(shown) << type;
    }
}

TEST_F(SelectWizard, AnEmptyTypeKeyShowsNoneAndGivesAnEmptyCommandLine)
{
    CSelectWizardDlg dialog;
    dialog.SetDocumentType("text/plain");
    const int result = runWith(dialog, [&] {
        EXPECT_EQ(wizardList(dialog)->count(), 0);
        EXPECT_EQ(description(dialog), QStringLiteral("None"));
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("buttonOk")),
                          Qt::LeftButton);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_FALSE(dialog.noWizards());
    EXPECT_EQ(dialog.commandLine(), "");
}

TEST_F(SelectWizard, TheSelectionShowsItsWizardAndMissingValuesKeepThePrevious)
{
    CSelectWizardDlg dialog;
    dialog.SetDocumentType("text/html");
    struct Step
    {
        const char *name, *description, *commandLine;
    } steps[] = {
        {"Alpha Page", "First by name", "alpha.sh %s"},
        {"Bare", "First by name", "alpha.sh %s"}, // no values of its own
        {"Zeta Page", "Last by name", "zeta.sh %s"},
    };
    const int result = runWith(dialog, [&] {
        QListWidget *list = wizardList(dialog);
        ASSERT_EQ(list->count(), 3);
        for (const Step &s : steps) {
            EXPECT_EQ(list->currentItem()->text(), QString::fromUtf8(s.name));
            EXPECT_EQ(description(dialog), QString::fromUtf8(s.description)) << s.name;
            EXPECT_EQ(dialog.commandLine(), s.commandLine) << s.name;
            QTest::keyClick(list, Qt::Key_Down);
        }
        dialog.reject();
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_FALSE(dialog.noWizards());
}

TEST_F(SelectWizard, DoubleClickingAWizardEndsWithItsCommandLine)
{
    CSelectWizardDlg dialog;
    dialog.SetDocumentType("text/html");
    const int result = runWith(dialog, [&] {
        QListWidget *list = wizardList(dialog);
        QListWidgetItem *zeta = list->findItems(QStringLiteral("Zeta Page"), Qt::MatchExactly)[0];
        const QPoint at = list->visualItemRect(zeta).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(dialog.commandLine(), "zeta.sh %s");
    EXPECT_EQ(dialog.wizardName(), QStringLiteral("Zeta Page"));
}

TEST_F(SelectWizard, ALongCommandLineIsCutToItsBuffer)
{
    CSelectWizardDlg dialog;
    dialog.SetDocumentType("text/css");
    EXPECT_EQ(runWith(dialog, [&] { dialog.accept(); }), QDialog::Accepted);
    EXPECT_EQ(dialog.commandLine(), std::string(511, 'x'));
}

TEST_F(SelectWizard, ItHasNoChoiceOfEditorAndAPlainHelpButton)
{
    CSelectWizardDlg dialog;
    dialog.SetDocumentType("text/html");
    runWith(dialog, [&] {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Select Wizard"));
        EXPECT_EQ(dialog.findChild<QPushButton *>(QStringLiteral("buttonHelp"))->text(),
                  QStringLiteral("Help"));
        EXPECT_FALSE(dialog.findChild<QWidget *>(QStringLiteral("radioUseWizard")));
        shoot(dialog, "select-wizard.png");
        dialog.reject();
    });
}
