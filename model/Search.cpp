#include "model/Search.h"

#include "model/Expand.h"
#include "model/SiteNode.h"
#include "model/Walk.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <unordered_set>

namespace sylvix {

namespace {

bool containsNoCase(std::string_view value, std::string_view text)
{
    if (text.size() > value.size())
        return false;
    for (size_t at = 0; at + text.size() <= value.size(); ++at)
        if (equalsNoCase(value.substr(at, text.size()), text))
            return true;
    return false;
}

} // namespace

bool SearchMatches(const SiteNode &node, const SearchQuery &query)
{
    if ((node.flags & query.requiredFlags) != query.requiredFlags)
        return false;
    if (query.text.empty())
        return true;
    std::string_view value = DisplayField(node, query.field).view();
    return query.matchCase ? value.find(query.text) != std::string_view::npos
                           : containsNoCase(value, query.text);
}

int SearchTree(std::vector<SiteNode *> &path, int depth, const SearchQuery &query, bool skipFirst,
               const SearchOptions &options)
{
    const int field = static_cast<int>(query.field);
    depth = std::min(depth, static_cast<int>(path.size()));
    path.resize(static_cast<size_t>(std::max(depth, 0)));
    std::unordered_set<const void *> asked;
    while (depth > 0) {
        SiteNode *node = path[static_cast<size_t>(depth - 1)];
        if (NeedsReload(node) == ReloadResult::Expand) {
            ExpandNode(node);
            if (options.ahead && !node->equivalent)
                ParseChildrenAhead(node, options.ahead, asked);
        }
        if (skipFirst) {
            skipFirst = false;
        } else {
            if (field < 0 || field > 4)
                return 0;
            if (options.progress && options.progress(node))
                return -1;
            if (SearchMatches(*node, query))
                return depth;
        }
        if (depth < kMaxSearchDepth && WalkDescends(node)) {
            path.push_back(node->firstChild());
            ++depth;
            continue;
        }
        while (depth > 0 && !path[static_cast<size_t>(depth - 1)]->nextSibling()) {
            path.pop_back();
            --depth;
        }
        if (depth == 0)
            return 0;
        path[static_cast<size_t>(depth - 1)] = path[static_cast<size_t>(depth - 1)]->nextSibling();
    }
    return depth;
}

std::vector<SiteNode *> PathTo(SiteNode *node)
{
    std::vector<SiteNode *> path;
    for (SiteNode *n = node; n; n = n->parent())
        path.push_back(n);
    std::reverse(path.begin(), path.end());
    return path;
}

} // namespace sylvix
