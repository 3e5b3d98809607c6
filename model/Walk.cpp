#include "model/Walk.h"

#include "model/Config.h"
#include "model/Expand.h"
#include "model/NodeInternals.h"
#include "model/ParseAhead.h"
#include "model/Resolve.h"
#include "model/SiteNode.h"

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
        if (c->loaded() || (c->flags & BROKEN) || !asked.insert(c->url.id()).second)
            continue;
        if (FindEquivalent(node, c->url, c))
            continue; // will mirror a page already read
        SiteNode *scratch = CopyNode(c, 0);
        if (ResolveNode(scratch) && scratch->kind == Html && !(scratch->flags & (BROKEN | NOTVER))
            && scratch->localPath)
            paths.push_back(scratch->localPath.str());
        FreeNode(scratch);
    }
    verifyExternal = saved;
    if (!paths.empty())
        ahead->request(paths);
}

bool WalkDescends(SiteNode *node)
{
    if (node->equivalent || !node->hasChildren())
        return false;
    if (!(node->flags & (EXTERNAL | VIRTUAL)))
        return true;
    return node->firstChild()->loaded() != 0;
}

bool WalkWholeTree(SiteNode *start, const WalkOptions &options)
{
    std::vector<SiteNode *> path{start};
    std::unordered_set<const void *> asked;
    while (!path.empty()) {
        SiteNode *node = path.back();
        if (NeedsReload(node) == 0) {
            ExpandNode(node);
            if (options.ahead && !node->equivalent)
                ParseChildrenAhead(node, options.ahead, asked);
        }
        if (options.visit && !options.visit(node, static_cast<int>(path.size())))
            return false;
        if (static_cast<int>(path.size()) < options.maxDepth && WalkDescends(node)) {
            path.push_back(node->firstChild());
            continue;
        }
        // Move on: the next sibling, else the next sibling of an ancestor,
        // never leaving the start's subtree.
        for (;;) {
            if (path.size() == 1)
                return true;
            if (SiteNode *next = path.back()->nextSibling()) {
                path.back() = next;
                break;
            }
            path.pop_back();
        }
    }
    return true;
}

} // namespace sylvix
