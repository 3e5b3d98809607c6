// The list on its own: what a drag from a row carries.

#include "model/SiteNode.h"
#include "tree/RowDrag.h"
#include "tree/TreeGeometry.h"
#include "tree/TreeListBox.h"
#include "tree/TreeRow.h"
#include "tree/TreeRowModel.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace sylvix;

// A drag carries the row's file, or with Shift its URL; a node without a
// file has nothing to carry without Shift, and one without either no drag.
TEST(TreeList, DragCarriesTheFileOrWithShiftTheUrl)
{
    std::unique_ptr<SiteNode, void (*)(SiteNode *)> node(CreateNode(), FreeNode);
    node->localPath = SharedStr("/srv/site/a b.html");
    node->url = SharedStr("http://localhost/a%20b.html");
    CTreeRow row; // outlives the list that shows it
    row.node = node.get();
    row.text = QStringLiteral("row");
    CTreeListBox list;
    list.AddRow(&row);
    list.resize(600, 240);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    list.SelectRow(&row);

    std::vector<QStringList> dropped; // formats, URLs, plain text, uri-list bytes
    list.setDragRunner([&](RowMimeData &data) {
        QStringList uris;
        for (const QUrl &u : data.urls())
            uris << u.toString();
        dropped.push_back({data.formats().join(u','), uris.join(u' '), data.text(),
                           QString::fromUtf8(data.data(QStringLiteral("text/uri-list")))});
    });
    QWidget *vp = list.viewport();
    const QPoint at
        = TreeGeometry::textRect(list.visualRect(list.rowModel()->index(0)), 0, 10).center();
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
    EXPECT_EQ(list.SelectedRow(), &row);
    list.RemoveRows(0, 1);
}
