#pragma once

// Where the parts of a row lie, from the row's rectangle and level.

#include <QRect>

namespace sylvix::TreeGeometry {

inline constexpr int kRowHeight = 20;
inline constexpr int kIndent = 20;
inline constexpr int kExtent = 1000; // the list's horizontal extent

// The row's anchor: the kind icon starts 2 pixels right of it.
inline int anchorX(const QRect &row, int level)
{
    return row.left() + kIndent * (level + 1);
}

// The 9 x 9 expand/collapse box.
inline QRect boxRect(const QRect &row, int level)
{
    const int x0 = anchorX(row, level);
    return QRect(x0 - 14, row.top() + 6, 9, 9);
}

inline QPoint iconOrigin(const QRect &row, int level)
{
    return QPoint(anchorX(row, level) + 2, row.top() + 1);
}

inline QRect textRect(const QRect &row, int level, int textWidth)
{
    const int left = row.left() + kIndent * (level + 2);
    return QRect(left, row.top(), textWidth + 4, kRowHeight);
}

inline int ancestorLineX(const QRect &row, int level)
{
    return row.left() + 10 + kIndent * level;
}

} // namespace sylvix::TreeGeometry
