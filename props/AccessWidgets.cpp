#include "props/AccessWidgets.h"

#include <QComboBox>
#include <QPainter>

namespace sylvix {

namespace {

template<typename TextAt>
int SortedRow(int count, const QString &text, TextAt textAt)
{
    int row = 0;
    while (row < count && QString::compare(textAt(row), text, Qt::CaseInsensitive) <= 0)
        ++row;
    return row;
}

} // namespace

int InsertSorted(QListWidget *list, const QString &text)
{
    int row = SortedRow(list->count(), text, [list](int r) { return list->item(r)->text(); });
    list->insertItem(row, text);
    return row;
}

int InsertSorted(QComboBox *combo, const QString &text)
{
    int row = SortedRow(combo->count(), text, [combo](int r) { return combo->itemText(r); });
    combo->insertItem(row, text);
    return row;
}

void ClassList::setActive(bool active)
{
    m_active = active;
    viewport()->update();
}

void ClassList::paintEvent(QPaintEvent *event)
{
    QListWidget::paintEvent(event);
    QPainter painter(viewport());
    painter.setPen(m_active ? QColor(255, 255, 0) : palette().color(QPalette::Window));
    painter.drawRect(viewport()->rect().adjusted(0, 0, -1, -1));
}

} // namespace sylvix
