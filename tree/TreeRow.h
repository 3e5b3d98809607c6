#pragma once

// One row of the tree list: what the list draws for one visible node.

#include <QIcon>
#include <QString>

#include <bitset>
#include <cstdint>

class QPainter;
class QRect;

namespace sylvix {

class SiteNode;

class CTreeRow
{
public:
    // Tree lines are drawn for levels below this; deeper rows are not
    // reachable by the site walks either.
    static constexpr int kMaxLineLevel = 256;

    virtual ~CTreeRow() = default;

    QString text;          // empty is drawn as a blank
    int16_t level = 0;     // 0 for the root row
    uint16_t lineMask = 0; // bit i: the tree line of level i runs through this row
    int32_t position = 2;  // 1: the node has a following sibling
    int32_t expandable = 0;
    int32_t expanded = 0;
    QIcon icon;                // the kind icon
    SiteNode *node = nullptr;  // not owned
    bool everExpanded = false; // its node's children have been shown by this row's view
    // lineMask widened to every level: bits 0 to 15 equal lineMask, the
    // deeper ones say the same for levels the 16-bit mask cannot hold.
    std::bitset<kMaxLineLevel> wideMask;
    // Kept by the list: whether the row is in it, and where it last was.
    bool listed = false;
    mutable int indexHint = -1;

    // Draws whatever follows the text inside rect; returns the x after it.
    virtual int DrawDecorations(QPainter &painter, const QRect &rect) const;
};

} // namespace sylvix
