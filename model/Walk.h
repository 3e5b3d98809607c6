#pragma once

// The whole-tree walk: depth first, every node examined (resolved, and its
// document parsed) before it is tested or descended into; a node that
// mirrors another is not descended into, nor are the children of an
// external or virtual node unless its first child was loaded already.

#include <functional>
#include <unordered_set>

namespace sylvix {

class SiteNode;
class ParseAhead;

inline constexpr int kMaxWalkDepth = 256;

struct WalkOptions
{
    // Called for each node after it was examined, with its depth (1 = the
    // start). Return false to stop the walk.
    std::function<bool(SiteNode *node, int depth)> visit;
    // Documents to come are parsed ahead on its threads (may be null).
    ParseAhead *ahead = nullptr;
    int maxDepth = kMaxWalkDepth;
};

// Returns false when visit stopped the walk.
bool WalkWholeTree(SiteNode *start, const WalkOptions &options);

// Whether the walk goes below node.
bool WalkDescends(SiteNode *node);

// Asks ahead's workers for the documents among node's children that a walk
// will parse next; asked holds the URLs asked for already.
void ParseChildrenAhead(SiteNode *node, ParseAhead *ahead, std::unordered_set<const void *> &asked);

} // namespace sylvix
