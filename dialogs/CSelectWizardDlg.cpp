#include "dialogs/CSelectWizardDlg.h"

#include "ui_CSelectWizardDlg.h"

namespace sylvix {

CSelectWizardDlg::CSelectWizardDlg(QWidget *parent)
    : CWizardDlgBase(parent), m_ui(std::make_unique<Ui::CSelectWizardDlg>())
{
    m_ui->setupUi(this);
    attach(m_ui->listWizards, m_ui->labelDescription, m_ui->buttonBox, QStringLiteral("Help"));
}

CSelectWizardDlg::~CSelectWizardDlg() = default;

} // namespace sylvix
