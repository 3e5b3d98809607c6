#pragma once

// The whole-tree walk of the map, level by level: every node reachable from
// the start is examined (resolved, and its document parsed), each page at
// its shallowest occurrence, so that later occurrences mirror it. A node
// that mirrors another is not descended into, nor are the children of an
// external or virtual node unless its first child was loaded already (an
// image map's areas are always examined). There is no depth limit and no
// recursion: a chain of any length is mapped whole.
//
// Once everything is examined, visit sees the tree in document order (pre-
// order), as far as the walk went.

#include <cstddef>
#include <functional>
#include <unordered_set>

namespace sylvix {

class SiteNode;
class ParseAhead;

struct WalkProgress
{
    size_t examined = 0; // nodes examined so far
    size_t parsed = 0;   // documents parsed (not mirrored)
    size_t queued = 0;   // nodes known and not yet examined
    size_t broken = 0;
};

struct WalkOptions
{
    // Called in pre-order for each node examined, with its depth (1 = the
    // start). Return false to stop the walk.
    std::function<bool(SiteNode *node, int depth)> visit = {};
    // Called after each node examined; return false to stop.
    std::function<bool(const WalkProgress &)> progress = {};
    // Documents of the next level are parsed ahead on its threads (may be null).
    ParseAhead *ahead = nullptr;
};

// Returns false when visit or progress stopped the walk.
bool WalkWholeTree(SiteNode *start, const WalkOptions &options);

// Whether the walk goes below node.
bool WalkDescends(SiteNode *node);

// Asks ahead's workers for the documents among node's children that a walk
// will parse next; asked holds the URLs asked for already.
void ParseChildrenAhead(SiteNode *node, ParseAhead *ahead, std::unordered_set<const void *> &asked);

} // namespace sylvix
