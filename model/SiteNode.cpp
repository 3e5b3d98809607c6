#include "model/SiteNode.h"

#include "model/Http.h"
#include "model/ViewHooks.h"
#include "model/internal/NodeInternals.h"

#include <sanitizer/asan_interface.h>

#if defined(__SANITIZE_ADDRESS__)
#define SYLVIX_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SYLVIX_ASAN 1
#endif
#endif

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace sylvix {

namespace {

size_t g_liveNodes = 0;
bool g_literal = false;
uint64_t g_epoch = 0;

// What a shallow copy takes from a node. Sources keep one for each child a
// pending mirror has not copied yet, so it is kept small: a child that was
// never resolved has no file status to keep.
struct CopyState
{
    uint32_t depth, line, flags;
    int32_t port;
    uint16_t httpStatus;
    uint8_t cause;
    SharedStr localPath, label, url, href, scheme, host, dir, file, query, fragment, mimeType,
        method;
    std::unique_ptr<const FileStatus> stat; // null: all zero
};

CopyState captureState(const SiteNode *n)
{
    return CopyState{n->depth,
                     n->line,
                     n->flags,
                     n->port,
                     n->httpStatus,
                     n->cause,
                     n->localPath,
                     n->label,
                     n->url,
                     n->href,
                     n->scheme,
                     n->host,
                     n->dir,
                     n->file,
                     n->query,
                     n->fragment,
                     n->mimeType,
                     n->method,
                     n->stat == FileStatus{} ? nullptr
                                             : std::make_unique<const FileStatus>(n->stat)};
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
    n->stat = s.stat ? *s.stat : FileStatus{};
}

// Pending mirrors by their source.
std::unordered_map<SiteNode *, std::vector<SiteNode *>> &pendingBySource()
{
    static auto *m = new std::unordered_map<SiteNode *, std::vector<SiteNode *>>;
    return *m;
}

// Nodes whose equivalent points at a node, by that node.
std::unordered_map<SiteNode *, std::unordered_set<SiteNode *>> &mirrorsOf()
{
    static auto *m = new std::unordered_map<SiteNode *, std::unordered_set<SiteNode *>>;
    return *m;
}

// Null when none are installed, so that the tree pays one test per change.
std::unique_ptr<ViewHooks> g_hooks;
// Copies made for a mirror are not announced one by one.
bool g_materialising = false;

} // namespace

void InstallViewHooks(ViewHooks hooks)
{
    const bool any = hooks.childrenAboutToBeFreed || hooks.childrenFreed
                     || hooks.childAboutToBeAppended || hooks.childAppended
                     || hooks.childrenAboutToBeMirrored || hooks.childrenMirrored
                     || hooks.materialised || hooks.nodeAboutToBeFreed;
    g_hooks = any ? std::make_unique<ViewHooks>(std::move(hooks)) : nullptr;
}

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
        const bool wasMaterialising = g_materialising;
        g_materialising = true;
        for (SiteNode *c = src->m_firstChild; c; c = c->m_nextSibling) {
            SiteNode *copy = CreateNode();
            if (const CopyState *s = savedState(c, epoch))
                applyState(copy, *s);
            else
                applyState(copy, captureState(c));
            AppendChild(m, copy);
        }
        g_materialising = wasMaterialising;
        if (g_hooks && g_hooks->materialised)
            g_hooks->materialised(m);
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
        const uint32_t count = childCount(source);
        if (count && g_hooks && g_hooks->childrenAboutToBeMirrored)
            g_hooks->childrenAboutToBeMirrored(node, count);
        if (g_literal) {
            const bool wasMaterialising = g_materialising;
            g_materialising = true;
            for (SiteNode *c = source->firstChild(); c; c = c->m_nextSibling)
                AppendChild(node, CopyNode(c, 0));
            g_materialising = wasMaterialising;
        } else {
            addPendingMirror(node, source);
        }
        if (count && g_hooks && g_hooks->childrenMirrored)
            g_hooks->childrenMirrored(node);
    }

    static void addPendingMirror(SiteNode *node, SiteNode *source)
    {
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

    static uint32_t childCount(const SiteNode *n)
    {
        // A pending mirror's children are its source's: any change of those
        // makes the copies first.
        const SiteNode *holder = n->m_firstChild ? n : source(n);
        return holder && holder->m_lastChild ? holder->m_lastChild->m_childIndex + 1 : 0;
    }

    static void setEquivalent(SiteNode *node, SiteNode *source)
    {
        if (node->equivalent == source)
            return;
        forgetEquivalent(node);
        node->equivalent = source;
        if (source) {
            mirrorsOf()[source].insert(node);
            source->m_mirrored = true;
        }
    }

    static void forgetEquivalent(SiteNode *node)
    {
        SiteNode *old = node->equivalent;
        if (!old || !old->m_mirrored)
            return;
        auto it = mirrorsOf().find(old);
        if (it == mirrorsOf().end())
            return;
        it->second.erase(node);
        if (it->second.empty()) {
            mirrorsOf().erase(it);
            old->m_mirrored = false;
        }
    }

    // The nodes that mirror n, about to be freed, keep no link to it.
    static void releaseMirrorsOf(SiteNode *n)
    {
        if (!n->m_mirrored)
            return;
        auto it = mirrorsOf().find(n);
        if (it != mirrorsOf().end()) {
            for (SiteNode *m : it->second)
                m->equivalent = nullptr;
            mirrorsOf().erase(it);
        }
        n->m_mirrored = false;
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
// through a free list. Nodes live on one thread. Under AddressSanitizer a
// free block is poisoned and the list runs first in, first out, so that a
// read of a freed node is reported instead of finding its successor.
struct NodeSlabs
{
    static constexpr size_t kPerSlab = 4096;
    union Block
    {
        Block *next;
        alignas(SiteNode) unsigned char bytes[sizeof(SiteNode)];
    };
    Block *free = nullptr;
    Block *freeTail = nullptr; // kept under AddressSanitizer only
    std::vector<std::unique_ptr<Block[]>> slabs;

    void *take()
    {
        if (!free) {
            slabs.push_back(std::unique_ptr<Block[]>(new Block[kPerSlab])); // left uninitialised
            Block *slab = slabs.back().get();
            for (size_t i = kPerSlab; i-- > 0;) {
                slab[i].next = free;
                free = &slab[i];
            }
            freeTail = &slab[kPerSlab - 1];
            ASAN_POISON_MEMORY_REGION(slab, sizeof(Block) * kPerSlab);
        }
        Block *b = free;
        ASAN_UNPOISON_MEMORY_REGION(b, sizeof(Block));
        free = b->next;
        if (!free)
            freeTail = nullptr;
        return b;
    }
    void give(void *p)
    {
        Block *b = static_cast<Block *>(p);
#ifdef SYLVIX_ASAN
        b->next = nullptr;
        if (freeTail) {
            ASAN_UNPOISON_MEMORY_REGION(freeTail, sizeof(Block));
            freeTail->next = b;
            ASAN_POISON_MEMORY_REGION(freeTail, sizeof(Block));
        } else {
            free = b;
        }
        freeTail = b;
#else
        b->next = free;
        free = b;
#endif
        ASAN_POISON_MEMORY_REGION(b, sizeof(Block));
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

uint32_t SiteNode::childCount() const
{
    return MirrorOps::childCount(this);
}

void SetEquivalent(SiteNode *node, SiteNode *source)
{
    MirrorOps::setEquivalent(node, source);
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
    const bool announce = g_hooks && !g_materialising;
    if (announce && g_hooks->childAboutToBeAppended)
        g_hooks->childAboutToBeAppended(parent, last ? NodeInternals::childIndex(last) + 1 : 0);
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
    if (announce && g_hooks->childAppended)
        g_hooks->childAppended(parent, child);
}

namespace {

// Frees the nodes of `all` with everything below them, without recursion.
// The children of parent from index `first` on are what goes; unlink takes
// them out of its list once the view was told. Index entries go first,
// while parent links still hold.
template<class Unlink>
void freeAll(std::vector<SiteNode *> &all, SiteNode *parent, uint32_t first, Unlink &&unlink)
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
    if (g_hooks) {
        if (parent && g_hooks->childrenAboutToBeFreed)
            g_hooks->childrenAboutToBeFreed(parent, first);
        if (g_hooks->nodeAboutToBeFreed)
            for (SiteNode *n : all)
                if (n->viewItem)
                    g_hooks->nodeAboutToBeFreed(n);
    }
    unlink();
    // Dying mirrors let go of their sources first, so that what is left
    // mirroring a dying node lives on, without its equivalent.
    for (SiteNode *n : all)
        MirrorOps::forgetEquivalent(n);
    for (SiteNode *n : all) {
        MirrorOps::releaseMirrorsOf(n);
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
    if (parent && g_hooks && g_hooks->childrenFreed)
        g_hooks->childrenFreed(parent);
}

} // namespace

void FreeNode(SiteNode *node)
{
    if (!node)
        return;
    SiteNode *parent = node->parent();
    // The parent's list changes: its pending mirrors take their copies first.
    if (parent && MirrorOps::pendingCount(parent))
        MirrorOps::settleMirrorsOf(parent);
    std::vector<SiteNode *> all;
    for (SiteNode *n = node; n; n = NodeInternals::nextRaw(n))
        all.push_back(n);
    freeAll(all, parent, NodeInternals::childIndex(node), [&] {
        if (!parent)
            return;
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
    });
}

void FreeChildren(SiteNode *node)
{
    if (MirrorOps::pendingCount(node))
        MirrorOps::settleMirrorsOf(node);
    if (MirrorOps::pending(node)) {
        // The copies were never made, but a view counted them.
        const bool announce = g_hooks && MirrorOps::childCount(node);
        if (announce && g_hooks->childrenAboutToBeFreed)
            g_hooks->childrenAboutToBeFreed(node, 0);
        MirrorOps::dropPending(node);
        if (announce && g_hooks->childrenFreed)
            g_hooks->childrenFreed(node);
    }
    SiteNode *first = NodeInternals::firstChildRaw(node);
    if (!first)
        return;
    std::vector<SiteNode *> all;
    for (SiteNode *n = first; n; n = NodeInternals::nextRaw(n))
        all.push_back(n);
    freeAll(all, node, 0, [&] {
        NodeInternals::firstChildRaw(node) = nullptr;
        NodeInternals::lastChildRaw(node) = nullptr;
    });
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
    std::shared_future<List> future;           // valid while the messages are being made
    std::function<std::optional<List>()> make; // set until the first read
    bool outOfDate = false;
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

Diagnostics Diagnostics::onFirstRead(std::function<std::optional<List>()> make)
{
    Diagnostics d;
    d.m_holder = std::make_shared<Holder>();
    d.m_holder->make = std::move(make);
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
    if (m_holder->make) {
        auto make = std::move(m_holder->make);
        m_holder->make = nullptr;
        std::optional<List> made = make();
        m_holder->outOfDate = !made;
        if (made)
            m_holder->list = std::move(*made);
    }
    return m_holder->list;
}

bool Diagnostics::pending() const
{
    return m_holder && (m_holder->future.valid() || m_holder->make);
}

bool Diagnostics::outOfDate() const
{
    get();
    return m_holder && m_holder->outOfDate;
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
