#include "tree/ViewRow.h"

#include "resources/Icons.h"

#include <QPainter>

namespace sylvix {

int CViewRow::DrawDecorations(QPainter &painter, const QRect &rect) const
{
    int x = rect.left();
    for (const char *name : stateIcons) {
        Icon(name).paint(&painter, QRect(x, rect.top() + 1, 16, 16));
        x += 16;
    }
    return x;
}

} // namespace sylvix
