#pragma once

// The texts a view, Find and the map tool show for a node.

#include "model/SiteNode.h"

#include <cstdint>
#include <string>

namespace sylvix {

// Which node text a row shows; the values are the view's stored mode.
enum class DisplayMode : int { Hyperlink = 0, FileName = 1, Title = 2, Label = 3, Url = 4 };

// The row text for mode, "[none]" when the chosen text is absent or empty.
std::string DisplayText(const SiteNode &node, DisplayMode mode);

// The chosen text itself, empty when absent (what Find compares against).
const SharedStr &DisplayField(const SiteNode &node, DisplayMode mode);

// Six marks in a fixed order, a letter when set and '-' when not: "EVMNBI".
std::string FlagLetters(uint32_t flags);

// The names of the set flags joined by '|', e.g. "BROKEN|EXTERNAL"; empty for none.
std::string FlagNames(uint32_t flags);

} // namespace sylvix
