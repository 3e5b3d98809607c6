#include "tree/TreeRow.h"

#include <QRect>

namespace sylvix {

int CTreeRow::DrawDecorations(QPainter &, const QRect &rect) const
{
    return rect.left();
}

} // namespace sylvix
