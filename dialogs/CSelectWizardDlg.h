#pragma once

// The Select Wizard dialog of the Wizards command: the wizards registered
// for the node's content type and the selected one's description.

#include "dialogs/CWizardDlgBase.h"

#include <memory>

namespace Ui {
class CSelectWizardDlg;
}

namespace sylvix {

class CSelectWizardDlg : public CWizardDlgBase
{
    Q_OBJECT
public:
    explicit CSelectWizardDlg(QWidget *parent = nullptr);
    ~CSelectWizardDlg() override;

private:
    std::unique_ptr<Ui::CSelectWizardDlg> m_ui;
};

} // namespace sylvix
