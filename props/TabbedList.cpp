#include "props/TabbedList.h"

#include <QLabel>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTextOption>

#include <algorithm>

namespace sylvix {

namespace {

class TabbedDelegate : public QStyledItemDelegate
{
public:
    explicit TabbedDelegate(CTabbedList *list) : QStyledItemDelegate(list), m_list(list) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString text = opt.text;
        opt.text.clear();
        m_list->style()->drawControl(QStyle::CE_ItemViewItem, &opt, painter, m_list);
        QTextOption layout(Qt::AlignLeft | Qt::AlignVCenter);
        QList<qreal> stops;
        for (int stop : m_list->tabStops())
            stops.append(stop);
        layout.setTabArray(stops);
        layout.setWrapMode(QTextOption::NoWrap);
        painter->save();
        painter->setPen(opt.palette.color(
            opt.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(QRectF(opt.rect.adjusted(kMargin, 0, 0, 0)), text, layout);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QSize base = QStyledItemDelegate::sizeHint(option, index);
        // Every line as wide as the extent: the scroll range follows it.
        return QSize(m_list->horizontalExtent() + 2 * kMargin, base.height());
    }

    static constexpr int kMargin = 2;

private:
    CTabbedList *m_list;
};

} // namespace

CTabbedList::CTabbedList(QWidget *parent) : QListWidget(parent)
{
    setItemDelegate(new TabbedDelegate(this));
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSortingEnabled(false);
}

void CTabbedList::SetTabStops(const std::vector<int> &multiples)
{
    const QFontMetrics fm(font());
    const int w = fm.maxWidth();
    const int b = std::max(1, fm.averageCharWidth());
    m_stopPixels.clear();
    for (int m : multiples) {
        const int dialogUnits = m * w / b;
        m_stopPixels.push_back(dialogUnits * b / 4);
    }
    placeHeader();
    viewport()->update();
}

int CTabbedList::AddLine(const QString &line)
{
    addItem(line);
    std::vector<int> stops = m_stopPixels;
    const QFontMetrics fm(font());
    return fm
        .size(Qt::TextSingleLine | Qt::TextExpandTabs, line, int(stops.size()),
              stops.empty() ? nullptr : stops.data())
        .width();
}

void CTabbedList::SetHorizontalExtent(int width)
{
    m_extent = std::max(0, width);
    doItemsLayout();
}

QStringList CTabbedList::lines() const
{
    QStringList out;
    for (int i = 0; i < count(); ++i)
        out.append(item(i)->text());
    return out;
}

QWidget *CTabbedList::MakeHeader(const QStringList &titles, QWidget *parent)
{
    m_header = new QWidget(parent);
    for (const QString &title : titles)
        m_headerLabels.push_back(new QLabel(title, m_header));
    m_header->setMinimumHeight(m_headerLabels.empty() ? 0 : m_headerLabels[0]->sizeHint().height());
    placeHeader();
    return m_header;
}

void CTabbedList::placeHeader()
{
    const int left = frameWidth() + TabbedDelegate::kMargin;
    for (size_t i = 0; i < m_headerLabels.size(); ++i) {
        const int x = i == 0 ? 0 : (i - 1 < m_stopPixels.size() ? m_stopPixels[i - 1] : 0);
        m_headerLabels[i]->move(left + x, 0);
        m_headerLabels[i]->adjustSize();
    }
}

} // namespace sylvix
