#include "model/internal/NodeInternals.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <utility>

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

// The loaded nodes of one URL in pre-order: a sorted array cut into blocks,
// so that an insertion moves at most one block. A URL that many pages link
// to holds hundreds of thousands of nodes, each costing one pointer here.
class NodeSet
{
public:
    struct Pos
    {
        size_t block = 0, at = 0;
    };

    bool empty() const { return m_blocks.empty(); }
    size_t size() const
    {
        size_t n = 0;
        for (const auto &b : m_blocks)
            n += b.size();
        return n;
    }
    Pos end() const { return {m_blocks.size(), 0}; }
    bool atEnd(Pos p) const { return p.block == m_blocks.size(); }
    SiteNode *at(Pos p) const { return m_blocks[p.block][p.at]; }
    // The node before p, null at the start.
    SiteNode *before(Pos p) const
    {
        if (p.at > 0)
            return m_blocks[p.block][p.at - 1];
        return p.block > 0 ? m_blocks[p.block - 1].back() : nullptr;
    }

    // The first node beginning at label or later (strict: later). The walk
    // asks about places close to the one it asked about last, so the search
    // starts there and widens; only when the answer lies in another block
    // does it search the whole set. A look-up aside (keep) leaves the
    // finger where it was.
    Pos lowerBound(uint64_t label, bool strict = false, bool keep = false) const
    {
        auto comes
            = [&](const SiteNode *n) { return strict ? beginOf(n) > label : beginOf(n) >= label; };
        std::optional<Pos> p = nearFinger(comes);
        if (!p) {
            auto b = std::partition_point(m_blocks.begin(), m_blocks.end(),
                                          [&](const Block &x) { return !comes(x.back()); });
            if (b == m_blocks.end())
                return end();
            auto i = std::partition_point(b->begin(), b->end(),
                                          [&](const SiteNode *n) { return !comes(n); });
            p = Pos{static_cast<size_t>(b - m_blocks.begin()), static_cast<size_t>(i - b->begin())};
        }
        if (!keep)
            m_finger = *p;
        return *p;
    }

    // hint: where n probably goes (a search just made may know), checked
    // against its neighbours before it is taken.
    void insert(SiteNode *n, std::optional<Pos> hint = std::nullopt)
    {
        Pos p = hint && fits(*hint, beginOf(n)) ? *hint : lowerBound(beginOf(n));
        if (atEnd(p)) {
            if (m_blocks.empty() || m_blocks.back().size() >= kBlock)
                m_blocks.emplace_back();
            m_blocks.back().push_back(n);
            return;
        }
        Block &b = m_blocks[p.block];
        b.insert(b.begin() + static_cast<std::ptrdiff_t>(p.at), n);
        m_finger = p;
        if (b.size() > 2 * kBlock) {
            Block upper(b.begin() + kBlock, b.end());
            b.resize(kBlock);
            b.shrink_to_fit();
            m_blocks.insert(m_blocks.begin() + static_cast<std::ptrdiff_t>(p.block) + 1,
                            std::move(upper));
        }
    }

    // Whether label belongs just before p.
    bool fits(Pos p, uint64_t label) const
    {
        if (p.block > m_blocks.size() || (p.block == m_blocks.size() && p.at != 0)
            || (p.block < m_blocks.size() && p.at >= m_blocks[p.block].size()))
            return false;
        const SiteNode *prev = before(p);
        return (!prev || beginOf(prev) < label) && (atEnd(p) || beginOf(at(p)) > label);
    }

    void erase(SiteNode *n)
    {
        Pos p = lowerBound(beginOf(n));
        if (atEnd(p) || at(p) != n)
            return;
        Block &b = m_blocks[p.block];
        b.erase(b.begin() + static_cast<std::ptrdiff_t>(p.at));
        if (b.empty())
            m_blocks.erase(m_blocks.begin() + static_cast<std::ptrdiff_t>(p.block));
    }

private:
    static constexpr size_t kBlock = 512;
    using Block = std::vector<SiteNode *>;

    // The first node that comes, searched from the finger outwards within
    // its block (galloping); nullopt when the answer is in another block.
    template<class Comes>
    std::optional<Pos> nearFinger(const Comes &comes) const
    {
        if (m_finger.block >= m_blocks.size())
            return std::nullopt;
        const size_t blk = m_finger.block;
        const Block &b = m_blocks[blk];
        const size_t n = b.size(); // never 0: empty blocks go
        const size_t f = std::min(m_finger.at, n - 1);
        // The finger and its neighbours are read first: their labels come
        // from memory together instead of one cache miss after another.
        for (size_t k = f > 0 ? f - 1 : 0; k < n && k <= f + 1; ++k)
            __builtin_prefetch(&NodeInternals::begin(b[k]).label);
        // The answer i is in [lo, hi]: b[lo - 1] does not come, b[hi] does
        // (or hi == n).
        size_t lo = 0, hi = n;
        if (comes(b[f])) {
            hi = f;
            for (size_t step = 1;; step *= 2) {
                if (hi < step) {
                    lo = 0;
                    break;
                }
                if (!comes(b[hi - step])) {
                    lo = hi - step + 1;
                    break;
                }
                hi -= step;
            }
        } else {
            lo = f + 1;
            for (size_t step = 1;; step *= 2) {
                if (lo - 1 + step >= n) {
                    hi = n;
                    break;
                }
                if (comes(b[lo - 1 + step])) {
                    hi = lo - 1 + step;
                    break;
                }
                lo += step;
            }
        }
        const size_t i
            = static_cast<size_t>(std::partition_point(b.begin() + static_cast<std::ptrdiff_t>(lo),
                                                       b.begin() + static_cast<std::ptrdiff_t>(hi),
                                                       [&](const SiteNode *x) { return !comes(x); })
                                  - b.begin());
        if (i == 0 && blk > 0 && comes(m_blocks[blk - 1].back()))
            return std::nullopt; // in an earlier block
        if (i < n)
            return Pos{blk, i};
        if (blk + 1 == m_blocks.size())
            return end();
        if (comes(m_blocks[blk + 1].front()))
            return Pos{blk + 1, 0};
        return std::nullopt; // in a later block
    }

    std::vector<Block> m_blocks;
    // Where the last search ended or the last node went; only a hint, since
    // every answer found from it is checked against its neighbours.
    mutable Pos m_finger;
};

// The sets own place; each is found through its URL's shared string (its
// tag), which stays alive while any node in the set has that URL.
std::unordered_map<const void *, NodeSet> &index()
{
    static auto *m = new std::unordered_map<const void *, NodeSet>;
    return *m;
}

// The walk looks a URL up and then, for the node it looked up from, inserts
// it: the place next to the start is kept for that.
struct LastLookup
{
    const void *key = nullptr;
    std::optional<NodeSet::Pos> place;
};
LastLookup g_last;

// The string whose tag holds the set of url.
const SharedStr &urlKey(const SharedStr &url)
{
    static const SharedStr *empty = new SharedStr(std::string_view(""));
    return url.present() ? url : *empty;
}

NodeSet *findSet(const SharedStr &key)
{
    if (g_last.key != key.id())
        g_last = {key.id(), std::nullopt};
    return static_cast<NodeSet *>(key.tag());
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
    const SharedStr &key = urlKey(node->url);
    if (NodeSet *set = findSet(key)) {
        set->insert(node, g_last.place);
    } else {
        NodeSet &fresh = index()[key.id()];
        key.tag() = &fresh;
        fresh.insert(node);
    }
    g_last.place.reset();
    NodeInternals::indexed(node) = true;
}

void IndexErase(SiteNode *node)
{
    if (!NodeInternals::indexed(node))
        return;
    const SharedStr &key = urlKey(node->url);
    if (auto *set = static_cast<NodeSet *>(key.tag())) {
        set->erase(node);
        g_last.place.reset();
        if (set->empty()) {
            key.tag() = nullptr;
            index().erase(key.id());
            if (g_last.key == key.id())
                g_last = {};
        }
    }
    NodeInternals::indexed(node) = false;
}

bool IndexHolds(const SharedStr &url)
{
    return urlKey(url).tag() != nullptr;
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
    NodeSet *found = findSet(urlKey(url));
    if (!found || !start || !OrderLinked(start))
        return nullptr;
    NodeSet &set = *found;
    // The branch the search came from is never searched.
    const bool exclude = from && from != start && from->parent() == start && OrderLinked(from);

    // Where a's subtree begins in the set (first), and the first node from
    // there on outside from's branch (after). A look-up aside (keep) leaves
    // the set's finger where the search from start left it.
    auto search = [&](const SiteNode *a, bool keep) {
        const NodeSet::Pos first = set.lowerBound(beginOf(a), false, keep);
        NodeSet::Pos after = first;
        if (exclude && !set.atEnd(after) && below(set.at(after), from))
            after = set.lowerBound(NodeInternals::end(from).label, true, keep);
        return std::pair{first, after};
    };
    // The candidate at p when it lies in a's subtree.
    auto inside = [&](NodeSet::Pos p, const SiteNode *a) -> SiteNode * {
        return !set.atEnd(p) && below(set.at(p), a) ? set.at(p) : nullptr;
    };

    const auto [first, after] = search(start, false);
    if (SiteNode *n = inside(after, start))
        return n;
    // Nothing lies below start outside from's branch, so from, when it is
    // inserted next, goes where the search began.
    if (from && from->parent() == start)
        g_last.place = first;
    SiteNode *up = start->parent();
    if (!up || up == from)
        return nullptr;

    // Outside start's subtree, the candidate met first hangs below the
    // lowest ancestor that holds any; the candidates next to start's
    // subtree in pre-order tell which ancestor that is. With nothing below
    // start outside from's branch, the search above ended at the first
    // candidate after start's subtree.
    SiteNode *pred = set.before(first);
    SiteNode *succ = set.atEnd(after) ? nullptr : set.at(after);
    for (SiteNode *a = up; a; a = a->parent())
        if ((pred && below(pred, a)) || (succ && below(succ, a)))
            return inside(search(a, true).second, a);
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
