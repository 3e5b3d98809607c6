#include "tree/TreeListBox.h"

#include "model/SiteNode.h"
#include "resources/Icons.h"
#include "tree/RowDrag.h"
#include "tree/TreeGeometry.h"
#include "tree/TreeRow.h"
#include "tree/TreeRowDelegate.h"
#include "tree/TreeRowModel.h"

#include <QApplication>
#include <QDrag>
#include <QKeyEvent>
#include <QMouseEvent>

namespace sylvix {

CTreeListBox::CTreeListBox(QWidget *parent) : QListView(parent), m_model(new TreeRowModel(this))
{
    setObjectName(QStringLiteral("treeList"));
    setModel(m_model);
    setItemDelegate(new TreeRowDelegate(this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setMouseTracking(false);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { emit selectedRowChanged(); });
}

void CTreeListBox::AddRow(CTreeRow *row)
{
    m_model->insert(m_model->rowCount(), {row});
}

void CTreeListBox::InsertRowAfter(int index, CTreeRow *row)
{
    m_model->insert(index + 1, {row});
}

void CTreeListBox::InsertRowsAfter(int index, const std::vector<CTreeRow *> &rows)
{
    m_model->insert(index + 1, rows);
}

int CTreeListBox::FindRow(const CTreeRow *row) const
{
    return m_model->find(row);
}

void CTreeListBox::RemoveRow(const CTreeRow *row)
{
    const int index = FindRow(row);
    if (index >= 0)
        m_model->remove(index, 1);
}

void CTreeListBox::RemoveRows(int first, int count)
{
    m_model->remove(first, count);
}

int CTreeListBox::SelectRow(const CTreeRow *row)
{
    const int index = FindRow(row);
    if (index >= 0)
        setCurrentIndex(m_model->index(index));
    return index;
}

CTreeRow *CTreeListBox::SelectedRow() const
{
    const QModelIndexList selected = selectionModel()->selectedRows();
    return selected.isEmpty() ? nullptr : m_model->rowAt(selected.first().row());
}

CTreeRow *CTreeListBox::RowAt(int index) const
{
    return m_model->rowAt(index);
}

int CTreeListBox::RowCount() const
{
    return m_model->rowCount();
}

void CTreeListBox::SetDrawingEnabled(int flag)
{
    m_drawingEnabled = flag;
    viewport()->setUpdatesEnabled(flag != 0);
}

void CTreeListBox::SetViewActive(int flag)
{
    if (m_viewActive == flag)
        return;
    m_viewActive = flag;
    viewport()->update();
}

void CTreeListBox::RowsChanged(int first, int last)
{
    m_model->rowsChanged(first, last);
}

QRect CTreeListBox::BoxRectAt(int index) const
{
    const CTreeRow *row = RowAt(index);
    if (!row)
        return {};
    return TreeGeometry::boxRect(visualRect(m_model->index(index)), row->level);
}

bool CTreeListBox::inBox(const QPoint &pos) const
{
    // The box of the row under the pointer, wherever the list is scrolled.
    const QModelIndex index = indexAt(pos);
    return index.isValid() && BoxRectAt(index.row()).contains(pos);
}

void CTreeListBox::mousePressEvent(QMouseEvent *event)
{
    if (blocked())
        return;
    if (event->button() == Qt::RightButton) {
        // Selects only (no box toggle, no drag), then the row's menu.
        const QModelIndex index = indexAt(event->position().toPoint());
        if (index.isValid())
            setCurrentIndex(index);
        emit shortcutMenuRequested(event->globalPosition().toPoint());
        return;
    }
    if (event->button() == Qt::LeftButton && inBox(event->position().toPoint())) {
        const QModelIndex index = indexAt(event->position().toPoint());
        // The second press of a double click on the same box is not a click.
        const bool second
            = index.row() == m_lastBoxRow
              && event->timestamp() - m_lastBoxPress < ulong(QApplication::doubleClickInterval());
        m_lastBoxRow = second ? -1 : index.row();
        m_lastBoxPress = event->timestamp();
        if (second)
            return;
        setCurrentIndex(index);
        m_boxClick = 1;
        emit rowActivated();
        m_boxClick = 0;
        return;
    }
    QListView::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && !(event->buttons() & Qt::RightButton)) {
        m_dragMoved = 0;
        m_buttonDown = 1;
        m_dragShift = 0;
        m_pressPos = event->position().toPoint();
    }
}

void CTreeListBox::mouseMoveEvent(QMouseEvent *event)
{
    // Without a press the list does nothing, so a drag never changes the
    // selection.
    if (!m_buttonDown)
        return;
    m_dragMoved = 1;
    if (event->modifiers() & Qt::ShiftModifier)
        m_dragShift = 1;
    if ((event->position().toPoint() - m_pressPos).manhattanLength()
        >= QApplication::startDragDistance())
        startRowDrag();
}

void CTreeListBox::mouseReleaseEvent(QMouseEvent *event)
{
    m_buttonDown = 0;
    m_dragMoved = 0;
    QListView::mouseReleaseEvent(event);
}

void CTreeListBox::startRowDrag()
{
    // The window system's drag loop takes the release.
    m_buttonDown = 0;
    m_dragMoved = 0;
    const CTreeRow *row = SelectedRow();
    if (!row || !row->node)
        return;
    std::unique_ptr<RowMimeData> data = RowDragData(*row->node, m_dragShift != 0);
    if (!data)
        return;
    if (m_dragRunner) {
        m_dragRunner(*data);
        return;
    }
    auto *drag = new QDrag(this);
    RowMimeData *shared = data.release();
    drag->setMimeData(shared);
    drag->setDragCursor(DragCursor(true).pixmap(), Qt::CopyAction);
    drag->setDragCursor(DragCursor(false).pixmap(), Qt::IgnoreAction);
    // Shift at any move of the drag chooses the URL, as before it started.
    auto followShift = [shared] {
        if (QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier)
            shared->setShift(true);
    };
    connect(drag, &QDrag::actionChanged, this, followShift);
    connect(drag, &QDrag::targetChanged, this, followShift);
    drag->exec(Qt::CopyAction | Qt::LinkAction, Qt::CopyAction);
    drag->deleteLater();
}

void CTreeListBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (blocked())
        return;
    const QPoint pos = event->position().toPoint();
    if (event->button() != Qt::LeftButton || inBox(pos))
        return; // the press already toggled the row
    if (!indexAt(pos).isValid())
        return;
    setCurrentIndex(indexAt(pos));
    emit rowActivated();
}

void CTreeListBox::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        QListView::keyPressEvent(event);
        emit escapePressed();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!blocked())
            emit rowActivated();
        return;
    default:
        if (blocked())
            return;
        QListView::keyPressEvent(event);
    }
}

void CTreeListBox::contextMenuEvent(QContextMenuEvent *event)
{
    // The right button's press has shown the menu already; the menu key
    // shows it at the selected row.
    if (blocked() || event->reason() == QContextMenuEvent::Mouse)
        return;
    const QModelIndex index = currentIndex();
    const QPoint at = index.isValid() ? visualRect(index).center() : QPoint();
    emit shortcutMenuRequested(viewport()->mapToGlobal(at));
}

void CTreeListBox::focusInEvent(QFocusEvent *event)
{
    QListView::focusInEvent(event);
    viewport()->update();
}

void CTreeListBox::focusOutEvent(QFocusEvent *event)
{
    QListView::focusOutEvent(event);
    viewport()->update();
}

} // namespace sylvix
