#include "model/Walk.h"

#include "model/Config.h"
#include "model/Expand.h"
#include "model/ParseAhead.h"
#include "model/Resolve.h"
#include "model/SiteNode.h"
#include "model/internal/NodeInternals.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace sylvix {

// Guesses which documents among node's children the walk will parse, and
// asks the workers for them. A guess is only a guess: the walk takes a
// parsed page only for the very file it resolves to.
void ParseChildrenAhead(SiteNode *node, ParseAhead *ahead, std::unordered_set<const void *> &asked)
{
    std::vector<std::string> paths;
    const bool saved = verifyExternal;
    verifyExternal = false; // never touch the network for a guess
    for (SiteNode *c = NodeInternals::firstChildRaw(node); c; c = NodeInternals::nextRaw(c)) {
        // A URL loaded anywhere will be mirrored: most links are, and that
        // is known without a look-up.
        if (c->loaded() || (c->flags & BROKEN) || IndexHolds(c->url)
            || !asked.insert(c->url.id()).second)
            continue;
        SiteNode *scratch = CopyNode(c, 0);
        if (ResolveNode(scratch) == ResolveResult::Finished && scratch->kind == Html
            && !(scratch->flags & (BROKEN | NOTVER)) && scratch->localPath)
            paths.push_back(scratch->localPath.str());
        FreeNode(scratch);
    }
    verifyExternal = saved;
    if (!paths.empty())
        ahead->request(paths);
}

namespace {

// Examines node the way opening its row does; true when it read a document
// of its own.
bool examine(SiteNode *node)
{
    if (node->loaded() || NeedsReload(node) != ReloadResult::Expand)
        return false;
    ExpandNode(node);
    return !node->equivalent && !(node->flags & (BROKEN | NOTVER))
           && (node->kind == Html || node->kind == ImageMap);
}

bool visitInOrder(SiteNode *start, const WalkOptions &options)
{
    struct Item
    {
        SiteNode *node;
        int depth;
    };
    std::vector<Item> stack{{start, 1}};
    while (!stack.empty()) {
        Item it = stack.back();
        stack.pop_back();
        if (!options.visit(it.node, it.depth))
            return false;
        if (!WalkDescends(it.node))
            continue;
        size_t mark = stack.size();
        for (SiteNode *c = it.node->firstChild(); c; c = c->nextSibling())
            stack.push_back({c, it.depth + 1});
        std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(mark), stack.end());
    }
    return true;
}

} // namespace

bool WalkDescends(SiteNode *node)
{
    if (node->equivalent || !node->hasChildren())
        return false;
    if (node->kind == ImageMap || !(node->flags & (EXTERNAL | VIRTUAL)))
        return true;
    return node->firstChild()->loaded() != 0;
}

bool WalkWholeTree(SiteNode *start, const WalkOptions &options)
{
    // One level at a time, in document order within the level: the first
    // occurrence of a page met this way is its shallowest.
    std::vector<SiteNode *> level{start}, next;
    std::unordered_set<const void *> asked;
    WalkProgress progress;
    while (!level.empty()) {
        progress.queued = level.size();
        for (SiteNode *node : level) {
            --progress.queued;
            if (examine(node))
                ++progress.parsed;
            ++progress.examined;
            if (node->flags & BROKEN)
                ++progress.broken;
            if (WalkDescends(node)) {
                if (options.ahead)
                    ParseChildrenAhead(node, options.ahead, asked);
                for (SiteNode *c = node->firstChild(); c; c = c->nextSibling())
                    next.push_back(c);
            }
            if (options.progress
                && !options.progress({progress.examined, progress.parsed,
                                      progress.queued + next.size(), progress.broken}))
                return false;
        }
        level.swap(next);
        next.clear();
    }
    return !options.visit || visitInOrder(start, options);
}

} // namespace sylvix
