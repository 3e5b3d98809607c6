#include "props/CNodeProperties.h"

#include "app/AppState.h"
#include "dialogs/HelpWindow.h"
#include "model/Config.h"
#include "model/SiteNode.h"
#include "props/CNodePropAccess.h"
#include "props/CNodePropActivity.h"
#include "props/CNodePropDgnostics.h"
#include "props/CNodePropGeneral.h"
#include "props/PropertyRules.h"
#include "resources/CommandTable.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <memory>

namespace sylvix {

CNodeProperties::CNodeProperties(const QString &caption, QWidget *parent, int firstPage)
    : QDialog(parent), m_firstPage(firstPage)
{
    setObjectName(QStringLiteral("propertySheet"));
    setWindowTitle(caption);
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("propertyTabs"));
    auto *buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
    m_buttons = buttons;
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("buttonOk"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("buttonCancel"));
    buttons->button(QDialogButtonBox::Help)->setObjectName(QStringLiteral("buttonHelp"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this,
            [] { ShowHelp(QStringLiteral("Examining document properties")); });
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs, 1);
    layout->addWidget(buttons);
    resize(560, 440);
}

void CNodeProperties::CancelToClose()
{
    m_buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Close"));
    m_buttons->button(QDialogButtonBox::Cancel)->setEnabled(false);
}

void CNodeProperties::AddPage(QWidget *page, const QString &title)
{
    m_tabs->addTab(page, title);
}

int CNodeProperties::exec()
{
    if (m_firstPage >= 0 && m_firstPage < m_tabs->count())
        m_tabs->setCurrentIndex(m_firstPage);
    return QDialog::exec();
}

int PageForCommand(int commandId)
{
    switch (commandId) {
    case ID_PROPS_ACCESS: return PageAccess;
    case ID_PROPS_DIAGNOSTICS: return PageDiagnostics;
    case ID_PROPS_ACTIVITY: return PageActivity;
    default: return PageGeneral;
    }
}

int OpenProperties(SiteNode *node, int selector, QWidget *parent)
{
    if (!node)
        return QDialog::Rejected;
    const GeneralTexts texts = MakeGeneralTexts(*node);
    const QString caption = QString::fromStdString(PropertiesCaption(node->href.view()));

    // Every page is made for each opening; those the node does not get are
    // never shown and go with the sheet.
    auto general = std::make_unique<CNodePropGeneral>(node, texts);
    auto access = std::make_unique<CNodePropAccess>(node);
    auto diagnostics = std::make_unique<CNodePropDgnostics>(node);
    auto activity = std::make_unique<CNodePropActivity>(node);

    const SheetPages pages = PagesFor(*node, selector);
    CNodeProperties sheet(caption, parent, pages.first);
    // Window-modal: the help window stays usable beside the sheet.
    sheet.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    const CNodePropAccess *accessPage = access.get();
    QObject::connect(accessPage, &CNodePropAccess::wroteStore, &sheet,
                     &CNodeProperties::CancelToClose);
    sheet.AddPage(general.release(), QStringLiteral("General"));
    if (pages.access)
        sheet.AddPage(access.release(), QStringLiteral("Access Control"));
    if (pages.diagnostics)
        sheet.AddPage(diagnostics.release(), QStringLiteral("Diagnostics"));
    if (pages.activity)
        sheet.AddPage(activity.release(), QStringLiteral("Activity"));

    PropertySheetOpened();
    const int result = sheet.exec();
    if (result == QDialog::Accepted && pages.access && accessPage->changed() && ServerKey)
        RaiseRevNumber(*ServerKey);
    PropertySheetClosed();
    return result;
}

} // namespace sylvix
