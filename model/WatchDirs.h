#pragma once

// Which directories a site tree document watches for changes.

#include <string>
#include <vector>

namespace sylvix {

inline constexpr size_t kMaxWatchedDirectories = 512;
inline constexpr size_t kMaxDocMapText = 259;

// One directory per value of the server's "DocMap" key, in the key's order,
// relative ones placed under the document root and the server root; empty
// when the key is missing. At most kMaxWatchedDirectories; a name or data
// longer than kMaxDocMapText ends the list.
std::vector<std::string> DirectoriesToWatch();

} // namespace sylvix
