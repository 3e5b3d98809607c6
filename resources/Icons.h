#pragma once

// The program's icons: our own SVG pictures under ":/icons/NAME.svg", loaded
// once by name and kept for the life of the process.

#include <QCursor>
#include <QIcon>

#include <cstdint>
#include <vector>

namespace sylvix {

// The icon called name (for example "HTML_ICON"); a null icon when the
// resources hold no such picture. The reference stays valid for the run.
const QIcon &Icon(const char *name);

// The icon name of a node kind: UNKNOWN_ICON for 5, 20 and any other value.
const char *KindIconName(uint32_t kind);
QIcon KindIcon(uint32_t kind);

// The state icons a row shows for a node's flags, in the fixed order
// EXTERNAL, VIRTUAL, ISMAP, then NOTVER if set else BROKEN if set, INLINED.
std::vector<const char *> StateIconNames(uint32_t flags);

// The cursors of a row drag: a drop is possible here, or not. 32 x 32 with
// the hot spot at (15, 15).
const QCursor &DragCursor(bool canDrop);

// Makes the compiled-in pictures reachable; Icon() calls it on first use,
// code that opens ":/icons/..." or ":/help/..." itself calls it first.
void InitResources();

} // namespace sylvix
