#pragma once

// How a view learns that a node's children appear or go, so that it can keep
// its rows exact and free its row objects. Installed like NotifyHooks; with
// no hooks installed the tree pays one test of a flag per change.
//
// Every hook runs on the tree's thread, inside the change, and must not
// change the tree itself.

#include <cstdint>
#include <functional>

namespace sylvix {

class SiteNode;

struct ViewHooks
{
    // Children of parent from index `first` to the end are about to be freed
    // (a re-parse, FreeChildren, FreeNode of a child); then they are gone.
    std::function<void(SiteNode *parent, uint32_t first)> childrenAboutToBeFreed;
    std::function<void(SiteNode *parent)> childrenFreed;
    // child is about to become the last child of parent, at index `index`;
    // then it is there.
    std::function<void(SiteNode *parent, uint32_t index)> childAboutToBeAppended;
    std::function<void(SiteNode *parent, SiteNode *child)> childAppended;
    // node (with no children) is about to get `count` children, those of the
    // node it mirrors; then it has them. They may be made only when first
    // asked for (see materialised); childCount() counts them either way.
    std::function<void(SiteNode *node, uint32_t count)> childrenAboutToBeMirrored;
    std::function<void(SiteNode *node)> childrenMirrored;
    // The copies announced by childrenMirrored were made now. The rows a
    // view made for them stay right; their nodes exist from here on. The
    // append hooks are not called for them.
    std::function<void(SiteNode *mirror)> materialised;
    // node is about to be freed and has a viewItem (called before the
    // childrenAboutToBeFreed of its own children has any meaning: the whole
    // subtree goes at once).
    std::function<void(SiteNode *node)> nodeAboutToBeFreed;
};

// Replaces the installed hooks; ViewHooks{} removes them.
void InstallViewHooks(ViewHooks hooks);

} // namespace sylvix
