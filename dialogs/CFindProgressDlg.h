#pragma once

// The small modeless window shown while Find searches the tree: the text
// looked for, the URL being examined, and Cancel.

#include <QDialog>
#include <QElapsedTimer>

#include <memory>
#include <string_view>

namespace Ui {
class CFindProgressDlg;
}

namespace sylvix {

class CFindProgressDlg : public QDialog
{
    Q_OBJECT
public:
    // The URL shown is repainted at most this often, however fast the walk goes.
    static constexpr int kRepaintMs = 50;

    CFindProgressDlg(const QString &searchText, QWidget *parent);
    ~CFindProgressDlg() override;

    // The walk's callback for each node: shows url (when it is time to),
    // dispatches every pending event, then answers whether the user cancelled.
    bool Progress(std::string_view url);
    bool cancelled() const { return m_cancelled; }
    QString shownUrl() const;

    // The window of the search that is running, or null: there is at most one.
    static CFindProgressDlg *current();

protected:
    void reject() override; // Cancel and Escape

private:
    std::unique_ptr<Ui::CFindProgressDlg> m_ui;
    QElapsedTimer m_sinceShown;
    bool m_cancelled = false;
};

} // namespace sylvix
