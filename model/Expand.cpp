#include "model/Expand.h"

#include "model/Cause.h"
#include "model/Config.h"
#include "model/Events.h"
#include "model/Http.h"
#include "model/Notify.h"
#include "model/Page.h"
#include "model/ParseAhead.h"
#include "model/Resolve.h"
#include "model/SiteNode.h"
#include "model/Url.h"
#include "model/internal/NodeInternals.h"
#include "platform/TextUtil.h"

#include <cctype>
#include <cstring>
#include <functional>
#include <vector>

namespace sylvix {

namespace {

MarkupChecks g_markupChecks = MarkupChecks::AtOnce;

bool sameFile(const FileStatus &a, const FileStatus &b)
{
    return a.dev == b.dev && a.ino == b.ino && a.size == b.size && a.mtime == b.mtime
           && a.mtimeNsec == b.mtimeNsec;
}

// The check of the file at path as it was when seen, run when first wanted.
Diagnostics checkOnFirstRead(std::string path, const FileStatus &seen)
{
    return Diagnostics::onFirstRead(
        [path = std::move(path), seen]() -> std::optional<Diagnostics::List> {
            std::string bytes;
            FileStatus now;
            if (!ReadPageFile(path, bytes, &now) || !sameFile(now, seen))
                return std::nullopt;
            DiagnosticList messages = ParsePageBytes(bytes).diagnostics;
            if (messages.empty())
                return Diagnostics::List();
            return std::make_shared<const DiagnosticList>(std::move(messages));
        });
}

// The notes a check left on node, which a parse of its document keeps.
DiagnosticList checkNotes(const SiteNode *node)
{
    DiagnosticList notes;
    if (node->diagnostics && !node->diagnostics.pending())
        for (const DiagnosticRecord &d : *node->diagnostics)
            if (IsCheckNote(d.message))
                notes.push_back(d);
    return notes;
}

// notes first, then what later gives, when it is read.
Diagnostics withNotes(DiagnosticList notes, Diagnostics later)
{
    return Diagnostics::onFirstRead(
        [notes = std::move(notes), later]() -> std::optional<Diagnostics::List> {
            if (later.outOfDate())
                return std::nullopt;
            DiagnosticList all = notes;
            if (later)
                all.insert(all.end(), later->begin(), later->end());
            return std::make_shared<const DiagnosticList>(std::move(all));
        });
}

} // namespace

void SetMarkupChecks(MarkupChecks mode)
{
    g_markupChecks = mode;
}

MarkupChecks CurrentMarkupChecks()
{
    return g_markupChecks;
}

SiteNode *FindEquivalent(SiteNode *start, const SharedStr &url, SiteNode *from)
{
    if (LiteralMode())
        return WalkFindEquivalent(start, url, from);
    return IndexFindEquivalent(start, url, from);
}

void AdoptEquivalent(SiteNode *node, SiteNode *source)
{
    PrepareChange(node);
    node->flags = source->flags;
    node->cause = source->cause;
    node->httpStatus = source->httpStatus;
    node->kind = source->kind;
    node->mimeType = source->mimeType;
    if (source->title)
        node->title = source->title;
    node->stat = source->stat;
    if (source->localPath)
        node->localPath = source->localPath;
    node->diagnostics = source->diagnostics;
    MirrorChildren(node, source);
}

namespace {

ReloadResult needsReload(SiteNode *node)
{
    if (!node->loaded()) {
        if (SiteNode *parent = node->parent()) {
            if (SiteNode *eq = FindEquivalent(parent, node->url, node)) {
                SetEquivalent(node, eq);
                return ReloadResult::Expand;
            }
        }
        return ResolveNode(node) == ResolveResult::Finished ? ReloadResult::Expand
                                                            : ReloadResult::Stopped;
    }
    if (node->flags & (NOTVER | EXTERNAL))
        return ReloadResult::NothingToDo;
    if (!(node->flags & BROKEN) && node->kind != ImageMap && node->kind != HtmlDir) {
        if (!node->localPath)
            return ReloadResult::NothingToDo;
        const FileStatus old = node->stat;
        const SharedStr oldPath = node->localPath;
        if (ResolveNode(node) == ResolveResult::Stopped)
            return ReloadResult::Stopped;
        if (!node->localPath || (node->flags & (NOTVER | BROKEN)))
            return node->stat.modifiedAfter(old) ? ReloadResult::Expand : ReloadResult::NothingToDo;
        if (node->localPath.view() != oldPath.view())
            return ReloadResult::Expand;
        return node->stat.modifiedAfter(old) ? ReloadResult::Expand : ReloadResult::NothingToDo;
    }
    return ResolveNode(node) == ResolveResult::Finished ? ReloadResult::Expand
                                                        : ReloadResult::Stopped;
}

} // namespace

ReloadResult NeedsReload(SiteNode *node)
{
    const ReloadResult r = needsReload(node);
    NodeInternals::changeDone(node);
    return r;
}

ExpandResult ExpandNode(SiteNode *node)
{
    if (PumpMessages())
        return ExpandResult::Stopped;
    if (node->equivalent) {
        AdoptEquivalent(node, node->equivalent);
    } else if (!(node->flags & (NOTVER | BROKEN))) {
        ShowStatusText("Parsing " + node->url.str() + "...");
        ParseDocument(node);
    }
    node->setLoaded(1);
    NodeInternals::changeDone(node);
    return ExpandResult::Expanded;
}

SiteNode *CreateRootNode(const char *url)
{
    SiteNode *root = CreateNode();
    if (url) {
        SetUrl(root, url, nullptr);
        if (!(root->flags & BROKEN) && NeedsReload(root) == ReloadResult::Expand)
            ExpandNode(root);
    } else {
        InitRootFromServer(root);
        if (NeedsReload(root) == ReloadResult::Expand)
            ExpandNode(root);
    }
    return root;
}

void ParseDocument(SiteNode *node)
{
    FreeChildren(node);
    DiagnosticList notes = checkNotes(node);
    node->diagnostics.reset();
    if (node->kind == Html) {
        ParseAhead *ahead = CurrentParseAhead();
        std::optional<PageEvents> page;
        Diagnostics later;
        if (ahead)
            page = ahead->take(node->localPath.str(), node->stat);
        if (!page && ahead && !ahead->parseMissesWhole()) {
            // The links now; the markup check, most of the work, on a worker.
            std::string bytes;
            page.emplace();
            if (ReadPageFile(node->localPath.str(), bytes)) {
                *page = ParsePageBytes(bytes, false);
                later = ahead->checkLater(std::move(bytes));
            }
        }
        if (!page && g_markupChecks == MarkupChecks::OnFirstRead) {
            std::string bytes;
            FileStatus seen;
            page.emplace();
            if (ReadPageFile(node->localPath.str(), bytes, &seen)) {
                *page = ParsePageBytes(bytes, false);
                later = checkOnFirstRead(node->localPath.str(), seen);
            }
        }
        if (!page)
            page = ParsePageFile(node->localPath.str());
        DiagnosticList messages = std::move(page->diagnostics);
        ApplyLinkEvents(node, page->events);
        if (later.pending() || later)
            node->diagnostics = notes.empty() ? later : withNotes(std::move(notes), later);
        else if (!messages.empty() || !notes.empty()) {
            notes.insert(notes.end(), messages.begin(), messages.end());
            node->diagnostics = std::make_shared<const DiagnosticList>(std::move(notes));
        }
    } else {
        if (node->kind == ImageMap)
            ExpandImageMap(node);
        if (!notes.empty() && !node->diagnostics)
            node->diagnostics = std::make_shared<const DiagnosticList>(std::move(notes));
    }
}

void ExtractLinks(SiteNode *node, const html::Block *block)
{
    std::vector<LinkEvent> events;
    CollectLinkEvents(block, events);
    ApplyLinkEvents(node, events);
}

namespace {

// SetUrl on a new child depends on nothing but the text and the parent's
// URL parts, and a site's pages repeat the same links from the same
// directories: what it made is kept, keyed by those, so that a repeat
// copies shared strings instead of parsing and interning again. The entry
// holds its key's strings, so that their identities stay theirs. The
// parent's file counts only for a link that took it (one with neither
// directory nor file of its own), so that the pages of one directory share
// their entries.
struct ChildUrl
{
    SharedStr href, parentScheme, parentHost, parentDir, parentFile;
    int32_t parentPort = 0;
    SharedStr scheme, host, dir, file, query, fragment, url;
    int32_t port = 0;
    uint32_t flags = 0;
    uint8_t cause = 0;
    bool fileMatters = true;

    bool matches(std::string_view text, const SiteNode *parent) const
    {
        return href.present() && href.view() == text && parentScheme == parent->scheme
               && parentHost == parent->host && parentDir == parent->dir
               && (!fileMatters || parentFile == parent->file) && parentPort == parent->port;
    }
};

constexpr size_t kChildUrlSlots = 4096; // a power of two

size_t childUrlSlot(std::string_view text, const SiteNode *parent)
{
    size_t h = std::hash<std::string_view>()(text);
    for (const void *id : {parent->scheme.id(), parent->host.id(), parent->dir.id()})
        h = (h ^ reinterpret_cast<uintptr_t>(id)) * 0x9e3779b97f4a7c15ull;
    h ^= static_cast<uint32_t>(parent->port);
    return (h ^ (h >> 29)) & (kChildUrlSlots - 1);
}

std::vector<ChildUrl> &childUrls()
{
    static auto *slots = new std::vector<ChildUrl>(kChildUrlSlots);
    return *slots;
}

// SetUrl for a child just made (no field set yet) of parent.
void setChildUrl(SiteNode *child, std::string_view text, SiteNode *parent)
{
    ChildUrl &e = childUrls()[childUrlSlot(text, parent)];
    if (!e.matches(text, parent)) {
        SetUrl(child, text, parent);
        e = ChildUrl{child->href,  parent->scheme, parent->host,   parent->dir,
                     parent->file, parent->port,   child->scheme,  child->host,
                     child->dir,   child->file,    child->query(), child->fragment(),
                     child->url,   child->port,    child->flags,   child->cause};
        // The parent's file can have gone into the child only if the two
        // are the same; otherwise the entry serves every page of the
        // directory.
        e.fileMatters = child->file == parent->file;
        return;
    }
    PrepareChange(child);
    UrlWillChange(child);
    child->href = e.href;
    child->depth = parent->depth + 1;
    child->scheme = e.scheme;
    child->host = e.host;
    child->port = e.port;
    child->dir = e.dir;
    child->file = e.file;
    child->setQuery(e.query);
    child->setFragment(e.fragment);
    child->flags |= e.flags;
    child->cause = e.cause;
    child->url = e.url;
    UrlDidChange(child);
}

} // namespace

void ForgetRepeatedLinks()
{
    for (ChildUrl &e : childUrls())
        if (e.href.present())
            e = ChildUrl{};
}

SiteNode *AddChild(SiteNode *node, std::string_view href, const char *label)
{
    SiteNode *child = CreateNode();
    AppendChild(node, child);
    setChildUrl(child, href, node);
    if (label)
        child->label = SharedStr(label);
    return child;
}

void ExpandImageMap(SiteNode *node)
{
    PrepareChange(node);
    auto values = ImageMapValues(node->file.view());
    if (!node->file || !values) {
        node->flags |= BROKEN;
        node->cause = CauseNoImageMap;
        return;
    }
    node->flags &= ~BROKEN;
    auto find = [&](std::string_view name) -> const ConfigValue * {
        for (const ConfigValue &v : *values)
            if (equalsNoCase(v.name, name))
                return &v;
        return nullptr;
    };
    const ConfigValue *def = find("Default");
    const ConfigValue *defDesc = find("DefaultDesc");
    if (def && defDesc)
        AddChild(node, def->data, defDesc->data.c_str());
    for (const ConfigValue &v : *values) {
        if (v.name.empty() || !std::isdigit(static_cast<unsigned char>(v.name[0])))
            continue;
        std::string_view d = v.data;
        size_t i = 0;
        while (i < d.size() && !isSpace(d[i]))
            ++i;
        while (i < d.size() && isSpace(d[i]))
            ++i;
        size_t start = i;
        while (i < d.size() && !isSpace(d[i]))
            ++i;
        if (i == start)
            continue; // an area without a target
        const ConfigValue *desc = find("D" + v.name);
        AddChild(node, d.substr(start, i - start), desc ? desc->data.c_str() : nullptr);
    }
    if (const ConfigValue *image = find("Image"))
        node->localPath = SharedStr(image->data);
}

} // namespace sylvix
