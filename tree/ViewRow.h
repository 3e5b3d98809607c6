#pragma once

// A row of the tree window: after its text it shows the node's state icons.

#include "tree/TreeRow.h"

#include <vector>

namespace sylvix {

class CListtestView;

class CViewRow : public CTreeRow
{
public:
    explicit CViewRow(CListtestView *view) : owner(view) {}

    CListtestView *const owner;           // the view that made the row and frees it
    std::vector<const char *> stateIcons; // icon names, in drawing order

    int DrawDecorations(QPainter &painter, const QRect &rect) const override;
};

} // namespace sylvix
