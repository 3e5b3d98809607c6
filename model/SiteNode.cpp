#include "model/SiteNode.h"

#include "model/Http.h"
#include "model/ViewHooks.h"
#include "model/internal/NodeInternals.h"

#include <sanitizer/asan_interface.h>
#include <sys/mman.h>

#if defined(__SANITIZE_ADDRESS__)
#define SYLVIX_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SYLVIX_ASAN 1
#endif
#endif

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <new>
#include <unordered_set>

namespace sylvix {

namespace {

size_t g_liveNodes = 0;
bool g_literal = false;
uint64_t g_epoch = 0;

// The string fields a shallow copy takes, in a fixed order: these, then
// query, fragment and method.
SharedStr SiteNode::*const kPlainStrings[] = {
    &SiteNode::localPath, &SiteNode::label, &SiteNode::url,  &SiteNode::href,    &SiteNode::scheme,
    &SiteNode::host,      &SiteNode::dir,   &SiteNode::file, &SiteNode::mimeType};
constexpr unsigned kPlainCount = sizeof kPlainStrings / sizeof kPlainStrings[0];
constexpr unsigned kStringCount = kPlainCount + 3;
constexpr uint16_t kAllStrings = (1u << kStringCount) - 1;

const SharedStr &copiedString(const SiteNode *n, unsigned i)
{
    if (i < kPlainCount)
        return n->*kPlainStrings[i];
    return i == kPlainCount ? n->query() : i == kPlainCount + 1 ? n->fragment() : n->method();
}

void setCopiedString(SiteNode *n, unsigned i, const SharedStr &v)
{
    if (i < kPlainCount)
        n->*kPlainStrings[i] = v;
    else if (i == kPlainCount)
        n->setQuery(v);
    else if (i == kPlainCount + 1)
        n->setFragment(v);
    else
        n->setMethod(v);
}

// What a shallow copy takes from a node.
struct Fields
{
    uint32_t depth = 0, line = 0, flags = 0;
    int32_t port = 0;
    uint16_t httpStatus = 0;
    uint8_t cause = 0;
    SharedStr strings[kStringCount];
    FileStatus stat;

    static Fields of(const SiteNode *n)
    {
        Fields f;
        f.depth = n->depth;
        f.line = n->line;
        f.flags = n->flags;
        f.port = n->port;
        f.httpStatus = n->httpStatus;
        f.cause = n->cause;
        for (unsigned i = 0; i < kStringCount; ++i)
            f.strings[i] = copiedString(n, i);
        f.stat = n->stat;
        return f;
    }
    void into(SiteNode *n) const
    {
        n->depth = depth;
        n->line = line;
        n->flags = flags;
        n->port = port;
        n->httpStatus = httpStatus;
        n->cause = cause;
        for (unsigned i = 0; i < kStringCount; ++i)
            setCopiedString(n, i, strings[i]);
        n->stat = stat;
    }
};

size_t g_savedStates = 0;
size_t g_savedBytes = 0;

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
    // the mirrors that still wait for their copies (null when none).
    uint64_t mirroredAt = 0;
    std::unique_ptr<std::vector<SiteNode *>> pending;
};

// A child's state as mirrors taken up to validUpTo saw it. The newest one
// holds every field while its node may still be changing; once the change
// is over it keeps only the fields that differ from the node (an older one:
// from the next newer state), which for a child that was only resolved is
// its flags and little else. The held strings and file status follow the
// record in the same block.
struct SiteNode::SavedState
{
    SavedState *older;
    uint64_t validUpTo;
    uint32_t depth, line, flags;
    int32_t port;
    uint16_t httpStatus;
    uint8_t cause;
    uint8_t statHeld;  // 0: as newer, 1: all zero, 2: the FileStatus that follows
    uint16_t strings;  // the string fields held here
    uint16_t nonEmpty; // of those, the ones that follow (the rest are absent)

    bool full() const { return strings == kAllStrings && statHeld; }
    static size_t bytes(uint8_t statHeld, uint16_t nonEmpty)
    {
        return sizeof(SavedState) + (statHeld == 2 ? sizeof(FileStatus) : 0)
               + static_cast<size_t>(std::popcount(nonEmpty)) * sizeof(SharedStr);
    }
    size_t size() const { return bytes(statHeld, nonEmpty); }
    FileStatus *statPtr() { return reinterpret_cast<FileStatus *>(this + 1); }
    SharedStr *values()
    {
        return reinterpret_cast<SharedStr *>(reinterpret_cast<char *>(this + 1)
                                             + (statHeld == 2 ? sizeof(FileStatus) : 0));
    }

    // Holds f's numbers, its strings in `held`, and its file status when holdStat.
    static SavedState *make(const Fields &f, uint16_t held, bool holdStat, uint64_t validUpTo)
    {
        uint16_t nonEmpty = 0;
        for (unsigned i = 0; i < kStringCount; ++i)
            if ((held & (1u << i)) && f.strings[i].present())
                nonEmpty |= static_cast<uint16_t>(1u << i);
        const uint8_t statHeld = !holdStat ? 0 : f.stat == FileStatus{} ? 1 : 2;
        const size_t size = bytes(statHeld, nonEmpty);
        auto *s = new (::operator new(size))
            SavedState{nullptr,      validUpTo, f.depth,  f.line, f.flags, f.port,
                       f.httpStatus, f.cause,   statHeld, held,   nonEmpty};
        if (statHeld == 2)
            new (s->statPtr()) FileStatus(f.stat);
        SharedStr *v = s->values();
        for (unsigned i = 0; i < kStringCount; ++i)
            if (nonEmpty & (1u << i))
                new (v++) SharedStr(f.strings[i]);
        ++g_savedStates;
        g_savedBytes += size;
        return s;
    }

    static void destroy(SavedState *s)
    {
        SharedStr *v = s->values();
        for (unsigned i = 0, n = static_cast<unsigned>(std::popcount(s->nonEmpty)); i < n; ++i)
            v[i].~SharedStr();
        --g_savedStates;
        g_savedBytes -= s->size();
        ::operator delete(s);
    }

    // Puts what this record holds into f.
    void applyTo(Fields &f)
    {
        f.depth = depth;
        f.line = line;
        f.flags = flags;
        f.port = port;
        f.httpStatus = httpStatus;
        f.cause = cause;
        if (statHeld)
            f.stat = statHeld == 2 ? *statPtr() : FileStatus{};
        const SharedStr *v = values();
        for (unsigned i = 0; i < kStringCount; ++i) {
            if (!(strings & (1u << i)))
                continue;
            if (nonEmpty & (1u << i))
                f.strings[i] = *v++;
            else
                f.strings[i].reset();
        }
    }
};

// Pending-mirror bookkeeping lives here, next to the record's privates.
struct MirrorOps
{
    using State = SiteNode::MirrorState;
    using Saved = SiteNode::SavedState;

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
        return n->m_mirror && n->m_mirror->pending
                   ? static_cast<uint32_t>(n->m_mirror->pending->size())
                   : 0;
    }

    // A copy: materialising a mirror takes it off the list.
    static std::vector<SiteNode *> pendingMirrorsOf(const SiteNode *n)
    {
        if (!pendingCount(n))
            return {};
        return *n->m_mirror->pending;
    }

    // Drops the block when nothing in it matters any more.
    static void tidy(SiteNode *n)
    {
        State *s = n->m_mirror.get();
        if (s && !s->source && !s->pending)
            n->m_mirror.reset();
    }

    static void clearSaved(SiteNode *n)
    {
        while (Saved *s = n->m_saved) {
            n->m_saved = s->older;
            Saved::destroy(s);
        }
    }

    // The newest saved state of n, kept whole while n changes, goes down to
    // the fields it differs in once the change is over, and back.
    static void replaceNewest(SiteNode *n, Saved *with)
    {
        Saved *old = n->m_saved;
        with->older = old->older;
        old->older = nullptr;
        Saved::destroy(old);
        n->m_saved = with;
    }

    static void trimSaved(SiteNode *n)
    {
        Saved *s = n->m_saved;
        if (!s || !s->full())
            return;
        // Fields the record holds with the node's own value need not be held.
        uint16_t differ = 0;
        const SharedStr *v = s->values();
        for (unsigned i = 0; i < kStringCount; ++i) {
            const bool present = s->nonEmpty & (1u << i);
            const SharedStr &mine = copiedString(n, i);
            if (present ? !(*v++ == mine) : mine.present())
                differ |= static_cast<uint16_t>(1u << i);
        }
        Fields was;
        s->applyTo(was);
        replaceNewest(n, Saved::make(was, differ, !(was.stat == n->stat), s->validUpTo));
    }

    static void wholeSaved(SiteNode *n)
    {
        Saved *s = n->m_saved;
        if (!s || s->full())
            return;
        Fields f = Fields::of(n);
        s->applyTo(f);
        replaceNewest(n, Saved::make(f, kAllStrings, true, s->validUpTo));
    }

    static void addPending(SiteNode *mirror, SiteNode *source, uint64_t epoch)
    {
        State &m = state(mirror);
        m.source = source;
        m.epoch = epoch;
        State &s = state(source);
        if (!s.pending)
            s.pending = std::make_unique<std::vector<SiteNode *>>();
        s.pending->push_back(mirror);
        s.mirroredAt = std::max(s.mirroredAt, epoch);
    }

    static void dropPending(SiteNode *mirror)
    {
        SiteNode *src = source(mirror);
        if (!src)
            return;
        if (auto &v = src->m_mirror->pending) {
            auto pos = std::find(v->rbegin(), v->rend(), mirror);
            if (pos != v->rend()) {
                *pos = v->back();
                v->pop_back();
            }
            if (v->empty())
                v.reset();
        }
        mirror->m_mirror->source = nullptr;
        mirror->m_mirror->epoch = 0;
        tidy(mirror);
    }

    // Child c as a mirror taken at epoch saw it: its state now, taken back
    // through every saved state made for that mirror or a later one.
    static void copyAsAt(SiteNode *copy, const SiteNode *c, uint64_t epoch)
    {
        Fields f = Fields::of(c);
        for (Saved *s = c->m_saved; s && s->validUpTo >= epoch; s = s->older)
            s->applyTo(f);
        f.into(copy);
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
            copyAsAt(copy, c, epoch);
            AppendChild(m, copy);
        }
        g_materialising = wasMaterialising;
        if (g_hooks && g_hooks->materialised)
            g_hooks->materialised(m);
        if (pendingCount(src) == 0)
            for (SiteNode *c = src->m_firstChild; c; c = c->m_nextSibling)
                clearSaved(c);
        tidy(src);
    }

    // Before the child list of source changes, its pending mirrors take
    // their copies.
    static void settleMirrorsOf(SiteNode *source)
    {
        if (pendingCount(source) == 0)
            return;
        std::vector<SiteNode *> mirrors = pendingMirrorsOf(source);
        for (SiteNode *m : mirrors)
            materialize(m);
    }

    static void prepareChange(SiteNode *n)
    {
        SiteNode *p = n->m_parent;
        if (!p || pendingCount(p) == 0) {
            clearSaved(n);
            return;
        }
        uint64_t mirroredAt = p->m_mirror->mirroredAt;
        if (n->m_saved && mirroredAt <= n->m_saved->validUpTo) {
            wholeSaved(n); // it changes again
            return;
        }
        Saved *s = Saved::make(Fields::of(n), kAllStrings, true, mirroredAt);
        s->older = n->m_saved;
        n->m_saved = s;
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
            node->m_nextMirror = source->m_firstMirror;
            if (source->m_firstMirror)
                source->m_firstMirror->m_prevMirror = node;
            source->m_firstMirror = node;
        }
    }

    static void forgetEquivalent(SiteNode *node)
    {
        SiteNode *old = node->equivalent;
        if (!old)
            return;
        if (node->m_prevMirror)
            node->m_prevMirror->m_nextMirror = node->m_nextMirror;
        else if (old->m_firstMirror == node)
            old->m_firstMirror = node->m_nextMirror;
        if (node->m_nextMirror)
            node->m_nextMirror->m_prevMirror = node->m_prevMirror;
        node->m_prevMirror = node->m_nextMirror = nullptr;
    }

    // The nodes that mirror n, about to be freed, keep no link to it.
    static void releaseMirrorsOf(SiteNode *n)
    {
        for (SiteNode *m = n->m_firstMirror; m;) {
            SiteNode *next = m->m_nextMirror;
            m->equivalent = nullptr;
            m->m_prevMirror = m->m_nextMirror = nullptr;
            m = next;
        }
        n->m_firstMirror = nullptr;
    }

    static void destroy(SiteNode *n) { delete n; }
};

void NodeInternals::materialize(SiteNode *n)
{
    MirrorOps::materialize(n);
}

void NodeInternals::changeDone(SiteNode *n)
{
    MirrorOps::trimSaved(n);
}

SiteNode::~SiteNode()
{
    MirrorOps::clearSaved(this);
    --g_liveNodes;
}

void SiteNode::setLoaded(uint32_t v)
{
    if (m_loaded == v)
        return;
    if (m_indexed)
        IndexErase(this);
    m_loaded = v != 0;
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
    // A slab is 2 MiB and aligned to that, so that the kernel can back it
    // with one huge page: in small pages a large tree faults every few nodes.
    static constexpr size_t kSlabBytes = size_t{2} << 20;
    union Block
    {
        Block *next;
        alignas(SiteNode) unsigned char bytes[sizeof(SiteNode)];
    };
    static constexpr size_t kPerSlab = kSlabBytes / sizeof(Block);
#ifdef SYLVIX_ASAN
    // A freed block is taken again only once no fresh one is left.
    static constexpr bool kFreshFirst = true;
#else
    static constexpr bool kFreshFirst = false;
#endif
    Block *free = nullptr;
    Block *freeTail = nullptr; // kept under AddressSanitizer only
    Block *fresh = nullptr;    // blocks never handed out, up to freshEnd
    Block *freshEnd = nullptr;
    // Every slab, so that the leak checker, which ignores pointers kept in
    // poisoned blocks, still sees them owned.
    std::vector<void *> all;

    void *take()
    {
        Block *b;
        if (free && !kFreshFirst) {
            b = popFree();
        } else if (fresh != freshEnd) {
            b = fresh++;
        } else if (free) {
            b = popFree();
        } else {
            grow();
            b = fresh++;
        }
        ASAN_UNPOISON_MEMORY_REGION(b, sizeof(Block));
        return b;
    }
    Block *popFree()
    {
        Block *b = free;
        ASAN_UNPOISON_MEMORY_REGION(b, sizeof(Block));
        free = b->next;
        if (!free)
            freeTail = nullptr;
        return b;
    }
    void grow()
    {
        // Slabs are never given back: freed nodes go to the free list.
        void *slab = std::aligned_alloc(kSlabBytes, kSlabBytes);
        if (!slab)
            throw std::bad_alloc();
        all.push_back(slab);
        ::madvise(slab, kSlabBytes, MADV_HUGEPAGE); // only a hint
        fresh = static_cast<Block *>(slab);
        freshEnd = fresh + kPerSlab;
        ASAN_POISON_MEMORY_REGION(slab, kSlabBytes);
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

size_t SavedStateCount()
{
    return g_savedStates;
}

size_t SavedStateBytes()
{
    return g_savedBytes;
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
            std::vector<SiteNode *> mirrors = MirrorOps::pendingMirrorsOf(n);
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
    Fields::of(node).into(copy);
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
    std::atomic<uint32_t> refs{1}; // copies may go to a worker
    List list;
    std::shared_future<List> future;           // valid while the messages are being made
    std::function<std::optional<List>()> make; // set until the first read
    bool outOfDate = false;
};

Diagnostics::Diagnostics(const Diagnostics &o) : m_holder(o.m_holder)
{
    if (m_holder)
        m_holder->refs.fetch_add(1, std::memory_order_relaxed);
}

void Diagnostics::reset()
{
    if (m_holder && m_holder->refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete m_holder;
    m_holder = nullptr;
}

Diagnostics::Diagnostics(List list)
{
    if (list) {
        m_holder = new Holder;
        m_holder->list = std::move(list);
    }
}

Diagnostics Diagnostics::later(std::shared_future<List> future)
{
    Diagnostics d;
    d.m_holder = new Holder;
    d.m_holder->future = std::move(future);
    return d;
}

Diagnostics Diagnostics::onFirstRead(std::function<std::optional<List>()> make)
{
    Diagnostics d;
    d.m_holder = new Holder;
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
