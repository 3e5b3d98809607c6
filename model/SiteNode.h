#pragma once

// One document or link of the site tree.

#include "model/SharedStr.h"

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sylvix {

enum NodeKind : uint32_t {
    Html = 0,
    Image = 1,
    Program = 2,
    Audio = 3,
    Video = 4,
    Postscript = 5,
    TextDoc = 6,
    MailTo = 7,
    Telnet = 8,
    Special = 9,
    ImageMap = 10,
    Stats = 11,
    ZeroStats = 12,
    CycleAccess = 13,
    CycleErrors = 14,
    CycleAll = 15,
    HtmlDir = 16,
    Ftp = 17,
    Gopher = 18,
    News = 19,
    Unknown = 20,
};

const char *KindDisplayText(uint32_t kind); // "HTML", "Image", ..., "Unknown"

enum NodeFlags : uint32_t {
    ISMAP = 0x004,
    BROKEN = 0x010,
    EXTERNAL = 0x020,
    NOTVER = 0x040,
    VIRTUAL = 0x080,
    INLINED = 0x100,
};

// What the tree keeps of a file's status: what tells a changed file apart,
// its type, size and time.
struct FileStatus
{
    uint64_t dev = 0;
    uint64_t ino = 0;
    int64_t size = 0;
    int64_t mtime = 0;
    uint32_t mode = 0;
    int32_t mtimeNsec = 0; // so that two saves within one second tell apart
    bool operator==(const FileStatus &) const = default;
    // Whether the file was modified after the time `earlier` records.
    bool modifiedAfter(const FileStatus &earlier) const
    {
        return mtime != earlier.mtime ? mtime > earlier.mtime : mtimeNsec > earlier.mtimeNsec;
    }
};

struct DiagnosticRecord
{
    std::string message;
    int32_t level = 0; // 0 information, 1 warning, 2 error
    int32_t line = 0;
    bool operator==(const DiagnosticRecord &) const = default;
};
using DiagnosticList = std::vector<DiagnosticRecord>;

// A node's parser messages, null when there are none. Messages never change
// once made, so copies of a node share them. They may still be in the
// making on a worker thread (the markup check is most of a parse); whoever
// reads them first waits for exactly what the parse gives.
class Diagnostics
{
public:
    using List = std::shared_ptr<const DiagnosticList>;

    Diagnostics() = default;
    Diagnostics(std::nullptr_t) {}
    Diagnostics(List list);
    Diagnostics(const Diagnostics &o);
    Diagnostics(Diagnostics &&o) noexcept : m_holder(o.m_holder) { o.m_holder = nullptr; }
    Diagnostics &operator=(Diagnostics o) noexcept
    {
        std::swap(m_holder, o.m_holder);
        return *this;
    }
    ~Diagnostics() { reset(); }
    static Diagnostics later(std::shared_future<List> future);
    // Made by make() at the first read; make gives nullopt when the document
    // is no longer what was parsed, and the messages are then out of date.
    static Diagnostics onFirstRead(std::function<std::optional<List>()> make);

    const List &get() const; // null when there are none (or they are out of date)
    bool pending() const;    // still to be made
    bool outOfDate() const;  // the document changed before its check ran
    explicit operator bool() const { return get() != nullptr; }
    const DiagnosticList *operator->() const { return get().get(); }
    const DiagnosticList &operator*() const { return *get(); }
    void reset();

private:
    // Shared by copies, with a count of its own: every node has one.
    struct Holder;
    Holder *m_holder = nullptr;
};

class SiteNode
{
public:
    uint32_t depth = 0;
    uint32_t line = 0; // of the element that links it, in its parent's document (0: unknown)
    SharedStr localPath;
    SharedStr label;
    SharedStr url;
    SharedStr href;
    SharedStr title;
    uint32_t flags = 0;
    int32_t port = 0;
    SharedStr scheme;
    SharedStr host;
    SharedStr dir;
    SharedStr file;
    SharedStr mimeType;
    uint8_t kind = Unknown;
    uint8_t cause = 0;       // why it is BROKEN: a BrokenCause (model/Cause.h)
    uint16_t httpStatus = 0; // of the last answer, when fetched over HTTP
    FileStatus stat;
    Diagnostics diagnostics;
    SiteNode *equivalent = nullptr; // not owned; set it with SetEquivalent
    void *viewItem = nullptr;       // not owned; the tree display's row

    // Rarely set, so kept apart: the URL's query and fragment, a form's method.
    const SharedStr &query() const { return rare().query; }
    const SharedStr &fragment() const { return rare().fragment; }
    const SharedStr &method() const { return rare().method; }
    void setQuery(SharedStr v) { setRare(&Rare::query, std::move(v)); }
    void setFragment(SharedStr v) { setRare(&Rare::fragment, std::move(v)); }
    void setMethod(SharedStr v) { setRare(&Rare::method, std::move(v)); }

    uint32_t loaded() const { return m_loaded; }
    void setLoaded(uint32_t v);

    SiteNode *parent() const { return m_parent; }
    SiteNode *nextSibling() const { return m_nextSibling; }
    // The child list. A node that mirrors another gets its copies of the
    // other's children here, the first time anybody asks for them.
    SiteNode *firstChild();
    SiteNode *lastChild();
    // Whether firstChild() would give a node, without making mirror copies.
    bool hasChildren() const;
    // How many children firstChild() would give, without making mirror copies.
    uint32_t childCount() const;
    uint32_t childIndex() const { return m_childIndex; } // place among its siblings
    bool mirrorPending() const;

    bool hasDiagnostics() const { return diagnostics && !diagnostics->empty(); }

private:
    friend struct NodeInternals;
    friend struct MirrorOps;
    struct Rare
    {
        SharedStr query, fragment, method;
    };
    std::unique_ptr<Rare> m_rare;
    const Rare &rare() const
    {
        static const Rare none;
        return m_rare ? *m_rare : none;
    }
    void setRare(SharedStr Rare::*field, SharedStr v)
    {
        if (!m_rare && !v)
            return;
        if (!m_rare)
            m_rare = std::make_unique<Rare>();
        (*m_rare).*field = std::move(v);
    }

    SiteNode *m_parent = nullptr;
    SiteNode *m_firstChild = nullptr; // owned, with the whole sibling chain
    SiteNode *m_lastChild = nullptr;
    SiteNode *m_nextSibling = nullptr;
    uint32_t m_childIndex = 0;
    uint8_t m_loaded = 0;
    bool m_indexed = false;
    // The nodes whose equivalent is this one, linked through their own
    // records: a popular page has hundreds of thousands of them.
    SiteNode *m_firstMirror = nullptr;
    SiteNode *m_prevMirror = nullptr; // among the mirrors of equivalent
    SiteNode *m_nextMirror = nullptr;
    // Pending-mirror bookkeeping, for the nodes that mirror or are mirrored.
    struct MirrorState;
    std::unique_ptr<MirrorState> m_mirror;
    // As a child of a mirrored node: what we were when mirrors still to be
    // made were taken, newest first.
    struct SavedState;
    SavedState *m_saved = nullptr;
    // Where the node's subtree begins and ends in the pre-order of all trees,
    // kept as ordered labels so that "is x below y" and "which comes first"
    // are answered without walking.
    struct OrderToken
    {
        uint64_t label = 0;
        OrderToken *prev = nullptr;
        OrderToken *next = nullptr;
    };
    OrderToken m_begin, m_end;

    SiteNode();
    ~SiteNode();
    // Nodes come from slabs: a large tree holds millions of them.
    static void *operator new(size_t size);
    static void operator delete(void *p);
    friend void FreeNode(SiteNode *node);
    friend SiteNode *CreateNode();
};

SiteNode *CreateNode();
// Frees node, its subtree and (as the record's design has it) its later
// siblings. Deletes the temporary file of an external node.
void FreeNode(SiteNode *node);
SiteNode *CopyNode(SiteNode *node, int deep);

// Sets node->equivalent and remembers the link, so that freeing source
// clears it: a mirror of a freed node has no equivalent from then on.
void SetEquivalent(SiteNode *node, SiteNode *source);

// Appends child at the end of parent's list and sets its parent.
void AppendChild(SiteNode *parent, SiteNode *child);
// Frees every child of node (and with them their subtrees).
void FreeChildren(SiteNode *node);

// Call before changing any field that a shallow copy takes (the URL parts,
// localPath, label, flags, mimeType, method, stat), each time after the
// node was handed to NeedsReload or ExpandNode: pending mirrors of the
// node's parent keep the state they were promised.
void PrepareChange(SiteNode *node);

// Gives node's children as shallow copies of source's children, made when
// first asked for (see SiteNode::firstChild).
void MirrorChildren(SiteNode *node, SiteNode *source);

// Off by default. On: mirrors copy at once and equivalents are found by the
// literal outward walk. Used to check that both designs answer alike.
void SetLiteralMode(bool on);
bool LiteralMode();

// Number of SiteNode records alive, for measurements.
size_t LiveNodeCount();
// Child states kept for pending mirrors (see PrepareChange): how many, and
// the bytes they take; for measurements.
size_t SavedStateCount();
size_t SavedStateBytes();

} // namespace sylvix
