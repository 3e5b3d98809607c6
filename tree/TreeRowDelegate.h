#pragma once

// Paints a row: tree lines, the expand box, the kind icon, the text and
// the row's decorations.

#include <QStyledItemDelegate>

namespace sylvix {

class CTreeListBox;

class TreeRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit TreeRowDelegate(CTreeListBox *list);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    CTreeListBox *m_list;
};

} // namespace sylvix
