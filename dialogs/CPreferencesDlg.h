#pragma once

// The Preferences dialog: the browser command for previews, kept in the
// program's settings, and external-link checking for the rest of the run.

#include <QDialog>

#include <memory>

namespace Ui {
class CPreferencesDlg;
}

namespace sylvix {

inline constexpr const char *kDefaultBrowserCommand = "brovia/brovia.exe";

class CPreferencesDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CPreferencesDlg(QWidget *parent = nullptr);
    ~CPreferencesDlg() override;

    // OK: takes the check box into verifyExternal and stores the browser
    // command, but only over a "BrowserCommand" string that already exists.
    void accept() override;

private:
    void browse();

    std::unique_ptr<Ui::CPreferencesDlg> m_ui;
};

} // namespace sylvix
