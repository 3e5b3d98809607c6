#pragma once

#include "model/SiteNode.h"

namespace sylvix::test {

// A lone node, freed at the end of the scope.
struct NodeHolder
{
    SiteNode *node = CreateNode();
    NodeHolder() = default;
    NodeHolder(const NodeHolder &) = delete;
    NodeHolder &operator=(const NodeHolder &) = delete;
    ~NodeHolder() { FreeNode(node); }
    SiteNode *operator->() const { return node; }
};

} // namespace sylvix::test
