#pragma once

// The Find walk: depth first over the whole tree from a path, resumable
// where it stopped, examining and parsing documents as it reaches them.

#include "model/Display.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sylvix {

class SiteNode;
class ParseAhead;

inline constexpr int kMaxSearchDepth = 256;

struct SearchQuery
{
    std::string text;                           // empty: any node with the flags matches
    DisplayMode field = DisplayMode::Hyperlink; // which node text is compared
    bool matchCase = false;
    uint32_t requiredFlags = 0; // every one of these bits must be set
};

struct SearchOptions
{
    // Called with each node about to be tested; true stops the search.
    std::function<bool(const SiteNode *node)> progress;
    // Documents the walk will need are parsed ahead on its threads (may be null).
    ParseAhead *ahead = nullptr;
};

// Whether node's text and flags satisfy the query (the node is not examined).
bool SearchMatches(const SiteNode &node, const SearchQuery &query);

// Walks on from path[depth - 1]: the path runs from the root down to that
// node and is rewritten as the walk goes, never deeper than kMaxSearchDepth.
// With skipFirst the start is examined and descended into but not tested,
// which is how Find Next goes on from a match. The walk goes past the
// start's subtree to its following siblings and those of its ancestors.
// Returns the new depth when a node matched (path[depth - 1] is the match),
// 0 at the end of the tree or for a field out of range, -1 when progress
// asked to stop.
int SearchTree(std::vector<SiteNode *> &path, int depth, const SearchQuery &query, bool skipFirst,
               const SearchOptions &options = {});

// The path from the root down to node, as SearchTree takes it.
std::vector<SiteNode *> PathTo(SiteNode *node);

} // namespace sylvix
