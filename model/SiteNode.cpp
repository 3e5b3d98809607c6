#include "model/SiteNode.h"

#include "model/Http.h"
#include "model/NodeInternals.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace sylvix {

namespace {

size_t g_liveNodes = 0;
bool g_literal = false;
uint64_t g_epoch = 0;

// What a shallow copy takes from a node.
struct CopyState
{
    uint32_t depth, line;
    SharedStr localPath, label, url, href;
    uint32_t flags;
    SharedStr scheme;
    int32_t port;
    uint16_t httpStatus;
    uint8_t cause;
    SharedStr host, dir, file, query, fragment, mimeType, method;
    FileStatus stat;
};

CopyState captureState(const SiteNode *n)
{
    return CopyState{n->depth,  n->line,     n->localPath,  n->label,  n->url,  n->href, n->flags,
                     n->scheme, n->port,     n->httpStatus, n->cause,  n->host, n->dir,  n->file,
                     n->query,  n->fragment, n->mimeType,   n->method, n->stat};
}

void applyState(SiteNode *n, const CopyState &s)
{
    n->depth = s.depth;
    n->line = s.line;
    n->httpStatus = s.httpStatus;
    n->cause = s.cause;
    n->localPath = s.localPath;
    n->label = s.label;
    n->url = s.url;
    n->href = s.href;
    n->flags = s.flags;
    n->scheme = s.scheme;
    n->port = s.port;
    n->host = s.host;
    n->dir = s.dir;
    n->file = s.file;
    n->query = s.query;
    n->fragment = s.fragment;
    n->mimeType = s.mimeType;
    n->method = s.method;
    n->stat = s.stat;
}

// Pending mirrors by their source.
std::unordered_map<SiteNode *, std::vector<SiteNode *>> &pendingBySource()
{
    static auto *m = new std::unordered_map<SiteNode *, std::vector<SiteNode *>>;
    return *m;
}

} // namespace

struct SiteNode::MirrorState
{
    // As a pending mirror: our children are the shallow copies of source's
    // children as they stood at epoch.
    SiteNode *source = nullptr;
    uint64_t epoch = 0;
    // As a source: the last epoch at which our children were mirrored, and
    // how many mirrors still wait for their copies.
    uint64_t mirroredAt = 0;
    uint32_t pendingMirrors = 0;
    // As a child of a source: our state saved for mirrors taken before a
    // change, ascending validUpTo.
    uint64_t savedUpTo = 0;
    struct Saved
    {
        uint64_t validUpTo;
        CopyState state;
    };
    std::vector<Saved> history;
};

// Pending-mirror bookkeeping lives here, next to the record's privates.
struct MirrorOps
{
    using State = SiteNode::MirrorState;

    static State &state(SiteNode *n)
    {
        if (!n->m_mirror)
            n->m_mirror = std::make_unique<State>();
        return *n->m_mirror;
    }
    static SiteNode *source(const SiteNode *n)
    {
        return n->m_mirror ? n->m_mirror->source : nullptr;
    }
    static bool pending(const SiteNode *n) { return source(n) != nullptr; }
    static uint32_t pendingCount(const SiteNode *n)
    {
        return n->m_mirror ? n->m_mirror->pendingMirrors : 0;
    }

    // Drops the block when nothing in it matters any more.
    static void tidy(SiteNode *n)
    {
        State *s = n->m_mirror.get();
        if (s && !s->source && !s->pendingMirrors && s->history.empty())
            n->m_mirror.reset();
    }

    static void addPending(SiteNode *mirror, SiteNode *source, uint64_t epoch)
    {
        State &m = state(mirror);
        m.source = source;
        m.epoch = epoch;
        pendingBySource()[source].push_back(mirror);
        State &s = state(source);
        ++s.pendingMirrors;
        s.mirroredAt = std::max(s.mirroredAt, epoch);
    }

    static void dropPending(SiteNode *mirror)
    {
        SiteNode *src = source(mirror);
        if (!src)
            return;
        auto it = pendingBySource().find(src);
        if (it != pendingBySource().end()) {
            auto &v = it->second;
            auto pos = std::find(v.rbegin(), v.rend(), mirror);
            if (pos != v.rend()) {
                *pos = v.back();
                v.pop_back();
            }
            if (v.empty())
                pendingBySource().erase(it);
        }
        --src->m_mirror->pendingMirrors;
        mirror->m_mirror->source = nullptr;
        mirror->m_mirror->epoch = 0;
        tidy(mirror);
    }

    // The state of child c as a mirror taken at epoch saw it.
    static const CopyState *savedState(const SiteNode *c, uint64_t epoch)
    {
        if (!c->m_mirror)
            return nullptr;
        for (const auto &e : c->m_mirror->history)
            if (e.validUpTo >= epoch)
                return &e.state;
        return nullptr;
    }

    static void materialize(SiteNode *m)
    {
        SiteNode *src = source(m);
        if (!src)
            return;
        uint64_t epoch = m->m_mirror->epoch;
        dropPending(m);
        for (SiteNode *c = src->m_firstChild; c; c = c->m_nextSibling) {
            SiteNode *copy = CreateNode();
            if (const CopyState *s = savedState(c, epoch))
                applyState(copy, *s);
            else
                applyState(copy, captureState(c));
            AppendChild(m, copy);
        }
        if (src->m_mirror && src->m_mirror->pendingMirrors == 0)
            for (SiteNode *c = src->m_firstChild; c; c = c->m_nextSibling)
                if (c->m_mirror) {
                    c->m_mirror->history.clear();
                    tidy(c);
                }
    }

    // Before the child list of source changes, its pending mirrors take
    // their copies.
    static void settleMirrorsOf(SiteNode *source)
    {
        if (pendingCount(source) == 0)
            return;
        auto it = pendingBySource().find(source);
        if (it == pendingBySource().end())
            return;
        std::vector<SiteNode *> mirrors = it->second;
        for (SiteNode *m : mirrors)
            materialize(m);
    }

    static void prepareChange(SiteNode *n)
    {
        SiteNode *p = n->m_parent;
        if (!p || pendingCount(p) == 0) {
            if (n->m_mirror && !n->m_mirror->history.empty()) {
                n->m_mirror->history.clear();
                tidy(n);
            }
            return;
        }
        uint64_t mirroredAt = p->m_mirror->mirroredAt;
        if (n->m_mirror && mirroredAt <= n->m_mirror->savedUpTo)
            return;
        State &s = state(n);
        s.history.push_back({mirroredAt, captureState(n)});
        s.savedUpTo = mirroredAt;
    }

    static void mirrorChildren(SiteNode *node, SiteNode *source)
    {
        settleMirrorsOf(node);
        FreeChildren(node);
        dropPending(node);
        if (g_literal) {
            for (SiteNode *c = source->firstChild(); c; c = c->m_nextSibling)
                AppendChild(node, CopyNode(c, 0));
            return;
        }
        // A mirror of a pending mirror mirrors the same source at the same moment.
        uint64_t epoch;
        if (SiteNode *further = MirrorOps::source(source)) {
            epoch = source->m_mirror->epoch;
            source = further;
        } else {
            if (!source->m_firstChild)
                return;
            epoch = ++g_epoch;
        }
        addPending(node, source, epoch);
    }

    static bool hasChildren(const SiteNode *n)
    {
        if (n->m_firstChild)
            return true;
        SiteNode *src = source(n);
        return src && src->m_firstChild;
    }

    static void destroy(SiteNode *n) { delete n; }
};

void NodeInternals::materialize(SiteNode *n)
{
    MirrorOps::materialize(n);
}

SiteNode::~SiteNode()
{
    --g_liveNodes;
}

void SiteNode::setLoaded(uint32_t v)
{
    if (m_loaded == v)
        return;
    if (m_indexed)
        IndexErase(this);
    m_loaded = v;
    if (m_loaded)
        IndexInsert(this);
}

SiteNode *SiteNode::firstChild()
{
    if (m_mirror)
        MirrorOps::materialize(this);
    return m_firstChild;
}

SiteNode *SiteNode::lastChild()
{
    if (m_mirror)
        MirrorOps::materialize(this);
    return m_lastChild;
}

bool SiteNode::mirrorPending() const
{
    return MirrorOps::pending(this);
}

namespace {

// Fixed-size blocks for nodes, handed out from large slabs and recycled
// through a free list. Nodes live on one thread.
struct NodeSlabs
{
    static constexpr size_t kPerSlab = 4096;
    union Block
    {
        Block *next;
        alignas(SiteNode) unsigned char bytes[sizeof(SiteNode)];
    };
    Block *free = nullptr;
    std::vector<std::unique_ptr<Block[]>> slabs;

    void *take()
    {
        if (!free) {
            slabs.push_back(std::make_unique<Block[]>(kPerSlab));
            Block *slab = slabs.back().get();
            for (size_t i = kPerSlab; i-- > 0;) {
                slab[i].next = free;
                free = &slab[i];
            }
        }
        Block *b = free;
        free = b->next;
        return b;
    }
    void give(void *p)
    {
        Block *b = static_cast<Block *>(p);
        b->next = free;
        free = b;
    }
};

NodeSlabs &slabs()
{
    static NodeSlabs *s = new NodeSlabs;
    return *s;
}

} // namespace

SiteNode::SiteNode() = default;

void *SiteNode::operator new(size_t)
{
    return slabs().take();
}

void SiteNode::operator delete(void *p)
{
    if (p)
        slabs().give(p);
}

bool SiteNode::hasChildren() const
{
    return MirrorOps::hasChildren(this);
}

SiteNode *CreateNode()
{
    ++g_liveNodes;
    return new SiteNode();
}

size_t LiveNodeCount()
{
    return g_liveNodes;
}

void SetLiteralMode(bool on)
{
    g_literal = on;
}
bool LiteralMode()
{
    return g_literal;
}

void PrepareChange(SiteNode *node)
{
    MirrorOps::prepareChange(node);
}
void MirrorChildren(SiteNode *node, SiteNode *source)
{
    MirrorOps::mirrorChildren(node, source);
}

void AppendChild(SiteNode *parent, SiteNode *child)
{
    if (MirrorOps::pendingCount(parent))
        MirrorOps::settleMirrorsOf(parent);
    if (MirrorOps::pending(parent))
        MirrorOps::materialize(parent);
    // The index keys a node by its place in the tree.
    bool wasIndexed = NodeInternals::indexed(child);
    if (wasIndexed)
        IndexErase(child);
    SiteNode *&first = NodeInternals::firstChildRaw(parent);
    SiteNode *&last = NodeInternals::lastChildRaw(parent);
    NodeInternals::parentRaw(child) = parent;
    NodeInternals::nextRaw(child) = nullptr;
    if (last) {
        NodeInternals::childIndex(child) = NodeInternals::childIndex(last) + 1;
        NodeInternals::nextRaw(last) = child;
    } else {
        NodeInternals::childIndex(child) = 0;
        first = child;
    }
    last = child;
    OrderAttach(parent, child);
    if (wasIndexed)
        IndexInsert(child);
}

namespace {

// Frees the nodes of `roots` with everything below them, without recursion.
// Index entries go first, while parent links still hold.
void freeAll(std::vector<SiteNode *> &all)
{
    // all holds the top nodes; extend it with every descendant (pre-order
    // is not needed, only completeness).
    for (size_t i = 0; i < all.size(); ++i)
        for (SiteNode *c = NodeInternals::firstChildRaw(all[i]); c; c = NodeInternals::nextRaw(c))
            all.push_back(c);

    std::unordered_set<SiteNode *> dying;
    bool anySources = false;
    for (SiteNode *n : all)
        if (MirrorOps::pendingCount(n))
            anySources = true;
    if (anySources) {
        dying.insert(all.begin(), all.end());
        for (SiteNode *n : all) {
            if (!MirrorOps::pendingCount(n))
                continue;
            auto it = pendingBySource().find(n);
            if (it == pendingBySource().end())
                continue;
            std::vector<SiteNode *> mirrors = it->second;
            for (SiteNode *m : mirrors) {
                if (dying.count(m))
                    MirrorOps::dropPending(m);
                else
                    MirrorOps::materialize(m);
            }
        }
    }
    for (SiteNode *n : all) {
        if (NodeInternals::indexed(n))
            IndexErase(n);
        if (MirrorOps::pending(n))
            MirrorOps::dropPending(n);
        OrderDetach(n);
    }
    for (SiteNode *n : all) {
        if ((n->flags & EXTERNAL) && n->localPath && n->localPath.useCount() == 1)
            DeleteTempFile(n->localPath.str());
        MirrorOps::destroy(n);
    }
}

} // namespace

void FreeNode(SiteNode *node)
{
    if (!node)
        return;
    SiteNode *parent = node->parent();
    std::vector<SiteNode *> all;
    for (SiteNode *n = node; n; n = NodeInternals::nextRaw(n))
        all.push_back(n);
    if (parent) {
        // Unlink node and its later siblings from the parent's list.
        SiteNode *prev = nullptr;
        for (SiteNode *c = NodeInternals::firstChildRaw(parent); c && c != node;
             c = NodeInternals::nextRaw(c))
            prev = c;
        if (prev) {
            NodeInternals::nextRaw(prev) = nullptr;
            NodeInternals::lastChildRaw(parent) = prev;
        } else if (NodeInternals::firstChildRaw(parent) == node) {
            NodeInternals::firstChildRaw(parent) = nullptr;
            NodeInternals::lastChildRaw(parent) = nullptr;
        }
    }
    freeAll(all);
}

void FreeChildren(SiteNode *node)
{
    if (MirrorOps::pendingCount(node))
        MirrorOps::settleMirrorsOf(node);
    if (MirrorOps::pending(node))
        MirrorOps::dropPending(node);
    SiteNode *first = NodeInternals::firstChildRaw(node);
    NodeInternals::firstChildRaw(node) = nullptr;
    NodeInternals::lastChildRaw(node) = nullptr;
    if (!first)
        return;
    std::vector<SiteNode *> all;
    for (SiteNode *n = first; n; n = NodeInternals::nextRaw(n))
        all.push_back(n);
    freeAll(all);
}

SiteNode *CopyNode(SiteNode *node, int deep)
{
    SiteNode *copy = CreateNode();
    applyState(copy, captureState(node));
    if (deep) {
        copy->title = node->title;
        copy->kind = node->kind;
        copy->diagnostics = node->diagnostics;
        for (SiteNode *c = node->firstChild(); c; c = c->nextSibling())
            AppendChild(copy, CopyNode(c, 0));
        copy->setLoaded(1);
    }
    return copy;
}

struct Diagnostics::Holder
{
    List list;
    std::shared_future<List> future; // valid while the messages are being made
};

Diagnostics::Diagnostics(List list)
{
    if (list) {
        m_holder = std::make_shared<Holder>();
        m_holder->list = std::move(list);
    }
}

Diagnostics Diagnostics::later(std::shared_future<List> future)
{
    Diagnostics d;
    d.m_holder = std::make_shared<Holder>();
    d.m_holder->future = std::move(future);
    return d;
}

const Diagnostics::List &Diagnostics::get() const
{
    static const List none;
    if (!m_holder)
        return none;
    if (m_holder->future.valid()) {
        m_holder->list = m_holder->future.get();
        m_holder->future = {};
    }
    return m_holder->list;
}

bool Diagnostics::pending() const
{
    return m_holder && m_holder->future.valid();
}

const char *KindDisplayText(uint32_t kind)
{
    static const char *const names[] = {
        "HTML",         "Image",     "Program",  "Audio",    "Video",  "Postscript", "Text",
        "MailTo",       "Telnet",    "Special",  "ImageMap", "Stats",  "Zero Stats", "Cycle Access",
        "Cycle Errors", "Cycle All", "HTML Dir", "FTP",      "Gopher", "News"};
    return kind < 20 ? names[kind] : "Unknown";
}

} // namespace sylvix
