#include "dialogs/CNewDocumentDlg.h"
#include "dialogs/CSelectWizardDlg.h"
#include "tests/dialogs/SelectWizardStore.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace sylvix;
using namespace sylvix::test;

using SelectWizard = WizardStore;

// Types without wizards end the dialog before it shows; a type key without
// wizards shows "None"; a long command line is cut to its buffer.
TEST_F(SelectWizard, TypesWithoutWizardsEmptyOrLong)
{
    // Rejected without ever showing (a shown one is closed, not to block).
    auto neverShown = [](QDialog &dialog) {
        bool shown = false;
        QTimer::singleShot(0, &dialog, [&] {
            shown = dialog.isVisible();
            dialog.reject();
        });
        return dialog.exec() == QDialog::Rejected && !shown;
    };
    for (const char *type : {"image/gif", "", "text"}) {
        CSelectWizardDlg dialog;
        dialog.SetDocumentType(type);
        EXPECT_TRUE(neverShown(dialog)) << type;
        EXPECT_TRUE(dialog.noWizards()) << type;
        EXPECT_TRUE(dialog.commandLine().empty());
    }
    CNewDocumentDlg newDocument;
    newDocument.SetDocumentType("image/jpeg");
    EXPECT_TRUE(neverShown(newDocument));
    EXPECT_TRUE(newDocument.noWizards());

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
TEST_F(SelectWizard, TheSelectionShowsItsWizardAndADoubleClickChoosesIt)
{
    CSelectWizardDlg dialog;
    dialog.SetDocumentType("text/html");
    struct Step
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
        for (const Step &s : steps) {
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
