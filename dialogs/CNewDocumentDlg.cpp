#include "dialogs/CNewDocumentDlg.h"

#include "ui_CNewDocumentDlg.h"

namespace sylvix {

CNewDocumentDlg::CNewDocumentDlg(QWidget *parent)
    : CWizardDlgBase(parent), m_ui(std::make_unique<Ui::CNewDocumentDlg>())
{
    m_ui->setupUi(this);
    attach(m_ui->listWizards, m_ui->labelDescription, m_ui->buttonBox, QStringLiteral("&Help"));
    connect(m_ui->radioAskEditor, &QRadioButton::clicked, this, [this] { setChoice(0); });
    connect(m_ui->radioUseWizard, &QRadioButton::clicked, this, [this] { setChoice(1); });
    setChoice(0);
}

CNewDocumentDlg::~CNewDocumentDlg() = default;

void CNewDocumentDlg::setChoice(int choice)
{
    m_choice = choice;
    const bool wizard = choice == 1;
    m_ui->labelWizard->setEnabled(wizard);
    m_ui->listWizards->setEnabled(wizard);
    m_ui->groupDescription->setEnabled(wizard);
    m_ui->labelDescription->setEnabled(wizard);
}

} // namespace sylvix
