#pragma once

// The node property sheet: a modal, tabbed window over one node with OK,
// Cancel and Help, and the operation that opens it for the tree view.

#include <QDialog>

class QDialogButtonBox;
class QTabWidget;

namespace sylvix {

class SiteNode;

class CNodeProperties : public QDialog
{
    Q_OBJECT

public:
    CNodeProperties(const QString &caption, QWidget *parent, int firstPage);

    void AddPage(QWidget *page, const QString &title);
    QTabWidget *tabs() const { return m_tabs; }
    // After a change that cannot be undone the sheet offers only closing:
    // OK reads "Close" and Cancel is off.
    void CancelToClose();

    int exec() override; // shows the first page, then runs modally

private:
    QTabWidget *m_tabs;
    QDialogButtonBox *m_buttons;
    int m_firstPage;
};

// The page selector (0 to 3) of a properties command of the view.
int PageForCommand(int commandId);

// Opens the sheet on node (nothing when null) at the page the selector
// names, runs it, and raises the server's revision after access-control
// changes confirmed with OK. Returns the sheet's result.
int OpenProperties(SiteNode *node, int selector, QWidget *parent);

} // namespace sylvix
