#include "dialogs/FindState.h"

namespace sylvix {

LastSearch lastSearch;

bool CanFindNext()
{
    return lastSearch.text.has_value() || lastSearch.flags != 0;
}

} // namespace sylvix
