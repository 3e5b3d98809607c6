#include "tree/TreeRowDelegate.h"

#include "resources/Icons.h"
#include "tree/TreeGeometry.h"
#include "tree/TreeListBox.h"
#include "tree/TreeRow.h"
#include "tree/TreeRowModel.h"

#include <QPainter>

namespace sylvix {

using namespace TreeGeometry;

TreeRowDelegate::TreeRowDelegate(CTreeListBox *list) : QStyledItemDelegate(list), m_list(list) {}

QSize TreeRowDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return QSize(kExtent, kRowHeight);
}

void TreeRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                            const QModelIndex &index) const
{
    const CTreeRow *row = m_list->RowAt(index.row());
    if (!m_list->drawingEnabled() || !row)
        return;
    const QRect r(option.rect.left(), option.rect.top(), option.rect.width(), kRowHeight);
    const int level = row->level;
    const QString text = row->text.isEmpty() ? QStringLiteral(" ") : row->text;
    const QFontMetrics metrics(option.font);
    const QRect textBox = textRect(r, level, metrics.horizontalAdvance(text));
    const QPalette &pal = option.palette;
    const bool selected = option.state & QStyle::State_Selected;

    painter->save();
    painter->setFont(option.font);
    if (selected && m_list->viewActive()) {
        painter->fillRect(textBox, pal.color(QPalette::Highlight));
        painter->setPen(pal.color(QPalette::HighlightedText));
    } else {
        painter->fillRect(textBox, pal.color(QPalette::Base));
        painter->setPen(pal.color(QPalette::Text));
    }
    const QRect textArea = textBox.adjusted(2, 2, 0, 0);
    painter->drawText(textArea, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    if (selected && !m_list->viewActive()) {
        painter->setPen(pal.color(QPalette::Highlight));
        painter->drawRect(textBox.adjusted(0, 0, -1, -1));
    }

    if (!row->icon.isNull())
        row->icon.paint(painter, QRect(iconOrigin(r, level), QSize(16, 16)));

    // Dotted lines, one pixel on and one off; ends are exclusive.
    QPen pen(pal.color(QPalette::WindowText), 0);
    pen.setDashPattern({1, 1});
    painter->setPen(pen);
    const int top = r.top();
    for (int i = 1; i < level && i < CTreeRow::kMaxLineLevel; ++i)
        if (row->wideMask.test(size_t(i)))
            painter->drawLine(ancestorLineX(r, i), top, ancestorLineX(r, i), top + kRowHeight - 1);
    const int x0 = anchorX(r, level);
    if (level > 0) {
        const int bottom = row->position == 1 ? top + kRowHeight : top + 10;
        painter->drawLine(x0 - 10, top, x0 - 10, bottom - 1);
    }
    painter->drawLine(x0 - 10, top + 10, x0 - 1, top + 10);

    if ((option.state & QStyle::State_HasFocus) && m_list->hasFocus()) {
        QPen focus(pal.color(QPalette::Text), 0);
        focus.setDashPattern({1, 1});
        painter->setPen(focus);
        painter->drawRect(textBox.adjusted(0, 0, -1, -1));
    }

    if (row->expandable)
        Icon("EXPAND_ICON").paint(painter, boxRect(r, level));
    else if (row->expanded)
        Icon("COLLAPSE_ICON").paint(painter, boxRect(r, level));

    row->DrawDecorations(*painter, QRect(QPoint(textBox.right() + 1 + 2, top), r.bottomRight()));
    painter->restore();
}

} // namespace sylvix
