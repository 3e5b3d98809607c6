#include "model/internal/NodeInternals.h"

#include <algorithm>
#include <set>
#include <unordered_map>

// Loaded nodes by URL, each set in pre-order, so that the node the outward
// walk from a start node would meet first is found with a few ordered
// look-ups instead of a walk over the tree.
//
// Pre-order comes from labels on two tokens per node, one where its subtree
// begins and one where it ends, in one list for all trees (an order-
// maintenance list): x lies below y when y.begin <= x.begin < y.end.

namespace sylvix {

namespace {

using Token = NodeInternals::Token;

struct OrderList
{
    Token head, tail;
    OrderList()
    {
        head.label = 0;
        tail.label = UINT64_MAX;
        head.next = &tail;
        tail.prev = &head;
    }
};

OrderList &order()
{
    static OrderList *l = new OrderList;
    return *l;
}

bool linked(const Token &t)
{
    return t.prev != nullptr;
}

// Spreads labels over a window around t that is sparse enough.
void relabelAround(Token *t)
{
    OrderList &l = order();
    Token *lo = t, *hi = t;
    uint64_t count = 1;
    for (;;) {
        const Token *L = lo->prev, *R = hi->next;
        uint64_t span = R->label - L->label;
        uint64_t gap = span / (count + 1);
        if (gap >= std::max<uint64_t>(count, 2) || (L == &l.head && R == &l.tail)) {
            uint64_t label = L->label;
            for (Token *x = lo;; x = x->next) {
                label += gap;
                x->label = label;
                if (x == hi)
                    break;
            }
            return;
        }
        uint64_t grow = count;
        for (uint64_t i = 0; i < grow && lo->prev != &l.head; ++i, ++count)
            lo = lo->prev;
        for (uint64_t i = 0; i < grow && hi->next != &l.tail; ++i, ++count)
            hi = hi->next;
    }
}

void insertBefore(Token *t, Token *b)
{
    Token *a = b->prev;
    t->prev = a;
    t->next = b;
    a->next = t;
    b->prev = t;
    if (b->label - a->label >= 2)
        t->label = a->label + (b->label - a->label) / 2;
    else
        relabelAround(t);
}

void unlink(Token *t)
{
    if (!linked(*t))
        return;
    t->prev->next = t->next;
    t->next->prev = t->prev;
    t->prev = t->next = nullptr;
}

uint64_t beginOf(const SiteNode *n)
{
    return NodeInternals::begin(n).label;
}

// n lies in a's subtree (a included).
bool below(const SiteNode *n, const SiteNode *a)
{
    return beginOf(a) <= beginOf(n) && beginOf(n) < NodeInternals::end(a).label;
}

struct ByBegin
{
    using is_transparent = void;
    bool operator()(const SiteNode *a, const SiteNode *b) const { return beginOf(a) < beginOf(b); }
    bool operator()(const SiteNode *a, uint64_t b) const { return beginOf(a) < b; }
    bool operator()(uint64_t a, const SiteNode *b) const { return a < beginOf(b); }
};

using NodeSet = std::set<SiteNode *, ByBegin>;

std::unordered_map<const void *, NodeSet> &index()
{
    static auto *m = new std::unordered_map<const void *, NodeSet>;
    return *m;
}

const void *urlKey(const SharedStr &url)
{
    static const SharedStr *empty = new SharedStr(std::string_view(""));
    return url.present() ? url.id() : empty->id();
}

bool sameUrl(const SiteNode *n, const SharedStr &url)
{
    return n->url.view() == url.view();
}

} // namespace

bool OrderLinked(const SiteNode *node)
{
    return linked(NodeInternals::begin(node));
}

void OrderEnsure(SiteNode *node)
{
    if (OrderLinked(node))
        return;
    if (SiteNode *p = node->parent()) {
        OrderAttach(p, node);
        return;
    }
    insertBefore(&NodeInternals::begin(node), &order().tail);
    insertBefore(&NodeInternals::end(node), &order().tail);
}

void OrderAttach(SiteNode *parent, SiteNode *child)
{
    OrderEnsure(parent);
    Token *at = &NodeInternals::end(parent);
    Token &b = NodeInternals::begin(child), &e = NodeInternals::end(child);
    if (!linked(b)) {
        insertBefore(&b, at);
        insertBefore(&e, at);
        return;
    }
    // A subtree that had a place of its own moves, tokens and all.
    std::vector<Token *> run;
    for (Token *t = &b;; t = t->next) {
        run.push_back(t);
        if (t == &e)
            break;
    }
    for (Token *t : run)
        unlink(t);
    for (Token *t : run)
        insertBefore(t, at);
}

void OrderDetach(SiteNode *node)
{
    unlink(&NodeInternals::begin(node));
    unlink(&NodeInternals::end(node));
}

void IndexInsert(SiteNode *node)
{
    if (NodeInternals::indexed(node) || !node->loaded())
        return;
    OrderEnsure(node);
    index()[urlKey(node->url)].insert(node);
    NodeInternals::indexed(node) = true;
}

void IndexErase(SiteNode *node)
{
    if (!NodeInternals::indexed(node))
        return;
    auto it = index().find(urlKey(node->url));
    if (it != index().end()) {
        it->second.erase(node);
        if (it->second.empty())
            index().erase(it);
    }
    NodeInternals::indexed(node) = false;
}

size_t IndexSize()
{
    size_t n = 0;
    for (auto &[k, v] : index())
        n += v.size();
    return n;
}

void UrlWillChange(SiteNode *node)
{
    IndexErase(node);
}
void UrlDidChange(SiteNode *node)
{
    if (node->loaded())
        IndexInsert(node);
}

SiteNode *IndexFindEquivalent(SiteNode *start, const SharedStr &url, SiteNode *from)
{
    auto found = index().find(urlKey(url));
    if (found == index().end() || !start || !OrderLinked(start))
        return nullptr;
    NodeSet &set = found->second;
    // The branch the search came from is never searched.
    const bool exclude = from && from != start && from->parent() == start && OrderLinked(from);

    // The first candidate of a's subtree in pre-order, outside that branch.
    auto firstBelow = [&](const SiteNode *a) -> SiteNode * {
        auto it = set.lower_bound(beginOf(a));
        if (exclude && it != set.end() && below(*it, from))
            it = set.upper_bound(NodeInternals::end(from).label);
        return it != set.end() && below(*it, a) ? *it : nullptr;
    };

    if (SiteNode *n = firstBelow(start))
        return n;
    SiteNode *up = start->parent();
    if (!up || up == from)
        return nullptr;

    // Outside start's subtree, the candidate met first hangs below the
    // lowest ancestor that holds any; the candidates next to start's
    // subtree in pre-order tell which ancestor that is.
    SiteNode *pred = nullptr, *succ = nullptr;
    auto it = set.lower_bound(beginOf(start));
    if (it != set.begin())
        pred = *std::prev(it);
    auto after = set.upper_bound(NodeInternals::end(start).label);
    if (after != set.end())
        succ = *after;
    for (SiteNode *a = up; a; a = a->parent())
        if ((pred && below(pred, a)) || (succ && below(succ, a)))
            return firstBelow(a);
    return nullptr;
}

SiteNode *WalkFindEquivalent(SiteNode *start, const SharedStr &url, SiteNode *from)
{
    SiteNode *prev = from;
    std::vector<SiteNode *> stack;
    for (SiteNode *cur = start; cur;) {
        if (sameUrl(cur, url) && cur->loaded())
            return cur;
        // Pre-order over the subtrees of cur's children, except prev's.
        stack.clear();
        std::vector<SiteNode *> kids;
        for (SiteNode *c = NodeInternals::firstChildRaw(cur); c; c = NodeInternals::nextRaw(c))
            if (c != prev)
                kids.push_back(c);
        stack.assign(kids.rbegin(), kids.rend());
        while (!stack.empty()) {
            SiteNode *n = stack.back();
            stack.pop_back();
            if (sameUrl(n, url) && n->loaded())
                return n;
            size_t mark = stack.size();
            for (SiteNode *c = NodeInternals::firstChildRaw(n); c; c = NodeInternals::nextRaw(c))
                stack.push_back(c);
            std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(mark), stack.end());
        }
        SiteNode *next = cur->parent();
        if (!next || next == prev)
            return nullptr;
        prev = cur;
        cur = next;
    }
    return nullptr;
}

} // namespace sylvix
