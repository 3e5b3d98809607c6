#pragma once

// The New Document dialog, shown when a document to open does not exist
// yet: the editor makes it empty, or a wizard registered for its content
// type creates it.

#include "dialogs/CWizardDlgBase.h"

#include <memory>

namespace Ui {
class CNewDocumentDlg;
}

namespace sylvix {

class CNewDocumentDlg : public CWizardDlgBase
{
    Q_OBJECT
public:
    explicit CNewDocumentDlg(QWidget *parent = nullptr);
    ~CNewDocumentDlg() override;

    // 0: ask the editor; 1: use the selected wizard.
    int choice() const { return m_choice; }

private:
    void setChoice(int choice);

    std::unique_ptr<Ui::CNewDocumentDlg> m_ui;
    int m_choice = 0;
};

} // namespace sylvix
