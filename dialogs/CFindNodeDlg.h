#pragma once

// The Find Node dialog: the text to look for, which node text to look in,
// the link states a match must have and whether case matters.

#include <QDialog>

#include <cstdint>
#include <memory>

class QAbstractButton;

namespace Ui {
class CFindNodeDlg;
}

namespace sylvix {

class CFindNodeDlg : public QDialog
{
    Q_OBJECT
public:
    // What the dialog ends with when the Find button closes it (not Accepted).
    static constexpr int kFindResult = 1044;

    explicit CFindNodeDlg(QWidget *parent = nullptr);
    ~CFindNodeDlg() override;

    // The fields the controls are exchanged with. Set them before exec();
    // after a Find they hold what the user chose.
    int field = -1; // 0 hyperlink, 1 file name, 2 title, 3 label, 4 URL; -1 none
    QString text;
    int matchCase = 0;
    int broken = 0;
    int external = 0;
    int isVirtual = 0;

    // The required node flags for the three check boxes.
    uint32_t requiredFlags() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void toControls();
    void fromControls();
    // Find is on and the default button while there is something to find.
    void applyFindRule();
    void onFind();

    std::unique_ptr<Ui::CFindNodeDlg> m_ui;
    bool m_initialised = false;
};

} // namespace sylvix
