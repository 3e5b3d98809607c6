#pragma once

// Small pieces shared by the Access Control page and its dialogs.

#include <QListWidget>

class QComboBox;

namespace sylvix {

// Lists on the page keep their entries sorted without regard to case;
// these insert one entry at its place and return its row.
int InsertSorted(QListWidget *list, const QString &text);
int InsertSorted(QComboBox *combo, const QString &text);

// A class list of the page: while active it carries a yellow frame just
// inside its client area, otherwise one in the window's background colour.
class ClassList : public QListWidget
{
public:
    using QListWidget::QListWidget;
    void setActive(bool active);
    bool active() const { return m_active; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_active = false;
};

} // namespace sylvix
