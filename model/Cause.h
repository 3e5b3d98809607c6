#pragma once

// Why a node is BROKEN, in words a maintainer can act on.

#include <cstdint>
#include <string>

namespace sylvix {

class SiteNode;

enum BrokenCause : uint8_t {
    CauseUnknown = 0,
    CauseNoSuchFile,
    CauseNoIndex,
    CauseRedirectLoop,
    CauseOutsideSite,
    CausePathTooLong,
    CauseNoImageMap,
    CauseHttpStatus, // the node's httpStatus says which
    CauseBadUrl,
    CauseCannotServe, // a pipe, a device, an unreadable file: its note says which
};

// "no such file", "HTTP 404 Not Found", ...; empty for a node not BROKEN.
std::string BrokenCauseText(const SiteNode &node);

} // namespace sylvix
