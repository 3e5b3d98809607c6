#pragma once

// What the last Find Node asked for, shared by every tree window for the
// whole run, so that Find Next Node in any window goes on with it.

#include <cstdint>
#include <optional>
#include <string>

namespace sylvix {

struct LastSearch
{
    std::optional<std::string> text; // stored by the Find button when not empty
    int field = 0;                   // display mode searched: 0 hyperlink ... 4 URL
    int matchCase = 0;
    uint32_t flags = 0; // required BROKEN, EXTERNAL and VIRTUAL bits
};

extern LastSearch lastSearch;

// Whether Find Next has something to go on with (busy aside).
bool CanFindNext();

} // namespace sylvix
