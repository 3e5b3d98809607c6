// The list on its own: what a row looks like pixel by pixel, and what the
// mouse and keyboard make it report.

#include "model/SiteNode.h"
#include "tree/RowDrag.h"
#include "tree/TreeGeometry.h"
#include "tree/TreeListBox.h"
#include "tree/TreeRow.h"
#include "tree/TreeRowModel.h"

#include <QApplication>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace sylvix;

namespace {

class TreeList : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_list.resize(600, 240);
        m_list.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_list));
    }
    void TearDown() override { m_list.RemoveRows(0, m_list.RowCount()); }

    CTreeRow *add(int level, uint16_t mask, int position)
    {
        CTreeRow *row = m_rows.emplace_back(std::make_unique<CTreeRow>()).get();
        row->level = int16_t(level);
        row->lineMask = mask;
        row->wideMask = mask;
        row->position = position;
        row->text = QStringLiteral("row");
        m_list.AddRow(row);
        return row;
    }
    QRect rowRect(int index) const { return m_list.visualRect(m_list.rowModel()->index(index)); }
    QImage shot()
    {
        QCoreApplication::processEvents(); // the list lays its rows out late
        return m_list.viewport()->grab().toImage();
    }
    // Dark pixels from (x, y) on, n steps of (dx, dy).
    static int dark(const QImage &img, int x, int y, int n, int dx = 0, int dy = 1)
    {
        int count = 0;
        for (int i = 0; i < n; ++i)
            count += qGray(img.pixel(x + i * dx, y + i * dy)) < 128;
        return count;
    }

    std::vector<std::unique_ptr<CTreeRow>> m_rows; // outlives the list that shows them
    CTreeListBox m_list;
};

} // namespace

TEST_F(TreeList, TreeLinesFollowLevelMaskAndPosition)
{
    struct Case
    {
        int level;
        uint16_t mask;
        int position;
        std::vector<int> full; // columns (from the row's left) with a line top to bottom
        std::vector<int> half; // columns with a line from the top to the middle
        std::vector<int> none; // ancestor columns with no line
        int wideBit = -1;      // set in the wider mask only
    };
    const Case cases[] = {
        {0, 0, 0, {}, {}, {10}},               // the root: only a stub to the right
        {3, 0x2, 2, {30}, {70}, {50}},         // last child, line at level 1 only
        {2, 0x6, 1, {30, 50}, {}, {}},         // middle child: a T at its own level
        {4, 0x0, 2, {}, {90}, {30, 50, 70}},   // no ancestor has a following sibling
        {15, 0x8000, 1, {310}, {}, {30, 290}}, // the last level the mask holds
        // Deeper than the 16-bit mask: the lines come from the wider one.
        {19, 0, 2, {350}, {390}, {330, 370}, 17},
    };
    for (const Case &c : cases) {
        CTreeRow *row = add(c.level, c.mask, c.position);
        if (c.wideBit >= 0)
            row->wideMask.set(size_t(c.wideBit));
    }
    const QImage img = shot();
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(i);
        const QRect r = rowRect(int(i));
        const int top = r.top();
        for (int x : c.full)
            EXPECT_GE(dark(img, r.left() + x, top, 20), 9) << x;
        for (int x : c.half) {
            EXPECT_GE(dark(img, r.left() + x, top, 10), 4) << x;
            EXPECT_EQ(dark(img, r.left() + x, top + 11, 9), 0) << x;
        }
        // (the root's stub starts on its column, hence not the middle pixel)
        for (int x : c.none)
            EXPECT_EQ(dark(img, r.left() + x, top, 10) + dark(img, r.left() + x, top + 11, 9), 0)
                << x;
        // The horizontal line runs from x0 - 10 to x0 on every row.
        const int x0 = TreeGeometry::anchorX(r, c.level);
        EXPECT_GE(dark(img, x0 - 10, top + 10, 10, 1, 0), 4);
        EXPECT_EQ(dark(img, x0, top + 10, 2, 1, 0), 0);
    }
}

TEST_F(TreeList, SelectionLooksDifferentInTheActiveView)
{
    add(0, 0, 0);
    m_list.SelectRow(add(1, 0, 2));
    const QRect r = rowRect(1);
    const QPoint text = TreeGeometry::textRect(r, 1, 0).topLeft();
    const QColor highlight = m_list.palette().color(QPalette::Highlight);
    m_list.SetViewActive(1);
    EXPECT_EQ(QColor(shot().pixel(text + QPoint(1, 1))), highlight);

    m_list.SetViewActive(0);
    const QImage img = shot();
    EXPECT_EQ(QColor(img.pixel(text + QPoint(1, 1))), m_list.palette().color(QPalette::Base));
    // A highlight frame, under the dotted focus mark where the list has focus.
    int frame = 0;
    for (int y = r.top(); y < r.top() + 20; ++y)
        frame += QColor(img.pixel(text.x(), y)) == highlight;
    EXPECT_GE(frame, 9);
}

// A drag carries the row's file, or with Shift its URL; a node without a
// file has nothing to carry without Shift, and one without either no drag.
TEST_F(TreeList, DragCarriesTheFileOrWithShiftTheUrl)
{
    std::unique_ptr<SiteNode, void (*)(SiteNode *)> node(CreateNode(), FreeNode);
    node->localPath = SharedStr("/srv/site/a b.html");
    node->url = SharedStr("http://localhost/a%20b.html");
    add(0, 0, 0)->node = node.get();
    m_list.SelectRow(m_list.RowAt(0));

    std::vector<QStringList> dropped; // formats, URLs, plain text, uri-list bytes
    m_list.setDragRunner([&](RowMimeData &data) {
        QStringList uris;
        for (const QUrl &u : data.urls())
            uris << u.toString();
        dropped.push_back({data.formats().join(u','), uris.join(u' '), data.text(),
                           QString::fromUtf8(data.data(QStringLiteral("text/uri-list")))});
    });
    QWidget *vp = m_list.viewport();
    const QPoint at = TreeGeometry::textRect(rowRect(0), 0, 10).center();
    auto drag = [&](Qt::KeyboardModifiers first) {
        QTest::mousePress(vp, Qt::LeftButton, {}, at);
        // Small moves below the drag distance, then one past it.
        QTest::mouseMove(vp, at + QPoint(1, 0));
        for (QPoint to : {at + QPoint(2, 0), at + QPoint(40, 0)}) {
            QMouseEvent move(QEvent::MouseMove, to, vp->mapToGlobal(at), Qt::NoButton,
                             Qt::LeftButton, to.x() - at.x() < 40 ? first : Qt::NoModifier);
            QApplication::sendEvent(vp, &move);
        }
        QTest::mouseRelease(vp, Qt::LeftButton, {}, at + QPoint(40, 0));
    };
    drag(Qt::NoModifier);
    drag(Qt::ShiftModifier); // Shift only at an early move still counts
    node->localPath = SharedStr();
    drag(Qt::NoModifier);
    node->url = SharedStr();
    drag(Qt::ShiftModifier);
    const QString both = QStringLiteral("text/uri-list,text/plain");
    EXPECT_EQ(dropped,
              (std::vector<QStringList>{{both, QStringLiteral("file:///srv/site/a b.html"),
                                         QStringLiteral("/srv/site/a b.html"),
                                         QStringLiteral("file:///srv/site/a%20b.html\r\n")},
                                        {both, QStringLiteral("http://localhost/a b.html"),
                                         QStringLiteral("http://localhost/a%20b.html"),
                                         QStringLiteral("http://localhost/a%20b.html\r\n")},
                                        {QString(), QString(), QString(), QString()}}));
    // Dragging never moved the selection.
    EXPECT_EQ(m_list.SelectedRow(), m_list.RowAt(0));

    // A press on a row's box toggles it; the move after it drags nothing.
    add(1, 0, 2)->expandable = 1;
    const QPoint box = m_list.BoxRectAt(1).center();
    QTest::mousePress(vp, Qt::LeftButton, {}, box);
    QTest::mouseMove(vp, box + QPoint(0, 30));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, box + QPoint(0, 30));
    EXPECT_EQ(m_list.SelectedRow(), m_list.RowAt(1));
    EXPECT_EQ(dropped.size(), 3u);
}
