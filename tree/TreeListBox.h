#pragma once

// The list of a tree window: one row per visible node. It draws and
// hit-tests rows and reports input to its owner; the owner decides which
// rows exist.

#include <QListView>

#include <functional>
#include <vector>

namespace sylvix {

class CTreeRow;
class RowMimeData;
class TreeRowModel;

class CTreeListBox : public QListView
{
    Q_OBJECT

public:
    explicit CTreeListBox(QWidget *parent = nullptr);

    void AddRow(CTreeRow *row);
    void InsertRowAfter(int index, CTreeRow *row);
    // Inserts rows after index in one step.
    void InsertRowsAfter(int index, const std::vector<CTreeRow *> &rows);
    int FindRow(const CTreeRow *row) const; // -1 when not in the list
    void RemoveRow(const CTreeRow *row);
    void RemoveRows(int first, int count);
    int SelectRow(const CTreeRow *row); // the index selected, or -1
    CTreeRow *SelectedRow() const;      // null when none is selected
    CTreeRow *RowAt(int index) const;   // null when out of range
    int RowCount() const;
    int BoxClicked() const { return m_boxClick; }
    void SetDrawingEnabled(int flag);
    void SetViewActive(int flag);
    // Repaints the rows from first to last after their fields changed.
    void RowsChanged(int first, int last);

    bool drawingEnabled() const { return m_drawingEnabled != 0; }
    bool viewActive() const { return m_viewActive != 0; }
    TreeRowModel *rowModel() const { return m_model; }
    // The expand box of the row at index, in viewport coordinates.
    QRect BoxRectAt(int index) const;

    // Clicks, Enter and double clicks are ignored while this answers true.
    void setInputBlocked(std::function<bool()> blocked) { m_blocked = std::move(blocked); }

    // Runs a row drag (by default QDrag::exec); tests look at the data
    // instead of entering the window system's drag loop.
    using DragRunner = std::function<void(RowMimeData &data)>;
    void setDragRunner(DragRunner runner) { m_dragRunner = std::move(runner); }

signals:
    // A double click on a row, Enter, or a click on a row's box (BoxClicked
    // is 1 while this is handled).
    void rowActivated();
    void escapePressed();
    void selectedRowChanged();
    void shortcutMenuRequested(const QPoint &globalPos);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    bool blocked() const { return m_blocked && m_blocked(); }
    bool inBox(const QPoint &pos) const;
    void startRowDrag();

    TreeRowModel *m_model;
    int m_boxClick = 0;
    int m_drawingEnabled = 1;
    int m_viewActive = 0;
    int m_buttonDown = 0; // a press outside the box: a drag may start
    int m_dragMoved = 0;
    int m_dragShift = 0; // Shift was down at one of the moves
    QPoint m_pressPos;
    DragRunner m_dragRunner;
    std::function<bool()> m_blocked;
    int m_lastBoxRow = -1;
    ulong m_lastBoxPress = 0;
};

} // namespace sylvix
