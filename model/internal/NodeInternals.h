#pragma once

// Private plumbing shared by the node record, the equivalence index and
// expansion. Not for use outside model/.

#include "model/SiteNode.h"

#include <vector>

namespace sylvix {

struct NodeInternals
{
    static SiteNode *&firstChildRaw(SiteNode *n) { return n->m_firstChild; }
    static SiteNode *&lastChildRaw(SiteNode *n) { return n->m_lastChild; }
    static SiteNode *&nextRaw(SiteNode *n) { return n->m_nextSibling; }
    static SiteNode *&parentRaw(SiteNode *n) { return n->m_parent; }
    static bool &indexed(SiteNode *n) { return n->m_indexed; }
    static uint32_t &childIndex(SiteNode *n) { return n->m_childIndex; }
    static uint8_t &loadedRaw(SiteNode *n) { return n->m_loaded; }
    static void materialize(SiteNode *n);
    // A change of n (NeedsReload, ExpandNode) is over: what is saved of it
    // for pending mirrors keeps only what differs.
    static void changeDone(SiteNode *n);
    using Token = SiteNode::OrderToken;
    static Token &begin(SiteNode *n) { return n->m_begin; }
    static Token &end(SiteNode *n) { return n->m_end; }
    static const Token &begin(const SiteNode *n) { return n->m_begin; }
    static const Token &end(const SiteNode *n) { return n->m_end; }
};

// The pre-order of all trees.
void OrderAttach(SiteNode *parent, SiteNode *child); // child's subtree goes last under parent
void OrderDetach(SiteNode *node);                    // node alone (its subtree is going too)
bool OrderLinked(const SiteNode *node);
void OrderEnsure(SiteNode *node); // a lone root gets its place

// The equivalence index: loaded nodes by URL.
void IndexInsert(SiteNode *node);
void IndexErase(SiteNode *node);
SiteNode *IndexFindEquivalent(SiteNode *start, const SharedStr &url, SiteNode *from);
// Whether any node with url is loaded (and so a node with url would mirror).
bool IndexHolds(const SharedStr &url);
size_t IndexSize();

// The literal outward walk, for LiteralMode and for checking the index.
SiteNode *WalkFindEquivalent(SiteNode *start, const SharedStr &url, SiteNode *from);

// Call around any change of a node's url.
void UrlWillChange(SiteNode *node);
void UrlDidChange(SiteNode *node);

} // namespace sylvix
