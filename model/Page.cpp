#include "model/Page.h"

#include "model/Expand.h"
#include "model/Resolve.h"
#include "model/Url.h"
#include "platform/TextUtil.h"

#include <atomic>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sylvix {

namespace {

// Pre-order over a parse subtree without recursion: the parser's trees can
// be deep.
template<class Fn>
void preorder(const html::Block *top, Fn &&fn)
{
    if (!top)
        return;
    std::vector<const html::Block *> stack{top};
    while (!stack.empty()) {
        const html::Block *b = stack.back();
        stack.pop_back();
        fn(b);
        size_t mark = stack.size();
        for (const html::Block *c = html::BlockFirstChild(b); c; c = html::BlockNext(c))
            stack.push_back(c);
        std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(mark), stack.end());
    }
}

std::unique_ptr<std::string> boxed(std::optional<std::string> s)
{
    return s ? std::make_unique<std::string>(std::move(*s)) : nullptr;
}

std::optional<std::string> attr(const html::Block *b, const char *name)
{
    const char *v = html::HTMLGetAttr(b, name);
    if (!v)
        return std::nullopt;
    return std::string(v);
}

std::optional<std::string> submitValue(const html::Block *form)
{
    for (const html::Block *c = html::BlockFirstChild(form); c; c = html::BlockNext(c)) {
        if (html::BlockTypeOf(c) != html::Element || html::BlockTag(c) != html::TagInput)
            continue;
        const char *type = html::HTMLGetAttr(c, "type");
        if (type && equalsNoCase(type, "submit"))
            return attr(c, "value");
    }
    return std::nullopt;
}

} // namespace

std::string CollectText(const html::Block *block, bool *any)
{
    std::string out;
    bool found = false;
    preorder(block, [&](const html::Block *b) {
        if (html::BlockTypeOf(b) == html::Text) {
            found = true;
            if (const char *t = html::BlockText(b))
                out += t;
        }
    });
    if (any)
        *any = found && !out.empty();
    return out;
}

size_t CollectLinkEvents(const html::Block *top, std::vector<LinkEvent> &out, int *firstCutLine)
{
    size_t children = 0;
    size_t dropped = 0;
    preorder(top, [&](const html::Block *b) {
        if (html::BlockTypeOf(b) != html::Element)
            return;
        LinkEvent e;
        switch (html::BlockTag(b)) {
        case html::TagAnchor: {
            auto href = attr(b, "href");
            if (!href)
                return;
            e.href = std::move(*href);
            bool any = false;
            std::string text = CollectText(b, &any);
            if (any)
                e.label = std::move(text);
            break;
        }
        case html::TagBase: {
            auto href = attr(b, "href");
            if (!href)
                return;
            e.type = LinkEvent::Base;
            e.href = std::move(*href);
            break;
        }
        case html::TagForm: {
            auto action = attr(b, "action");
            if (!action)
                return;
            e.href = std::move(*action);
            e.label = submitValue(b);
            e.method = boxed(attr(b, "method"));
            break;
        }
        case html::TagImg:
        case html::TagImage: {
            auto src = attr(b, "src");
            if (!src)
                return;
            e.href = std::move(*src);
            e.label = attr(b, "alt");
            e.flags = INLINED | (html::HTMLGetAttr(b, "ISMAP") ? static_cast<uint32_t>(ISMAP) : 0u);
            break;
        }
        case html::TagInput: {
            const char *type = html::HTMLGetAttr(b, "type");
            auto src = attr(b, "src");
            if (!type || !equalsNoCase(type, "image") || !src)
                return;
            e.href = std::move(*src);
            e.label = attr(b, "value");
            e.flags = ISMAP;
            break;
        }
        case html::TagTitle: {
            e.type = LinkEvent::Title;
            bool any = false;
            std::string text = CollectText(b, &any);
            if (any)
                e.label = std::move(text);
            break;
        }
        default: {
            auto href = attr(b, "href");
            if (!href)
                return;
            e.href = std::move(*href);
            e.label = attr(b, "role");
            break;
        }
        }
        if (e.type == LinkEvent::Child) {
            if (children >= kMaxPageChildren) {
                if (dropped++ == 0 && firstCutLine)
                    *firstCutLine = html::BlockLine(b);
                return;
            }
            ++children;
            e.line = static_cast<uint32_t>(std::max(0, html::BlockLine(b)));
        }
        out.push_back(std::move(e));
    });
    return dropped;
}

bool ReadRegularFile(const std::string &path, std::string &out, size_t maxBytes, FileStatus *st)
{
    out.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat s;
    if (::fstat(fd, &s) != 0 || !S_ISREG(s.st_mode)) {
        ::close(fd);
        return false;
    }
    if (st) {
        st->dev = s.st_dev;
        st->ino = s.st_ino;
        st->size = s.st_size;
        st->mtime = s.st_mtime;
        st->mtimeNsec = s.st_mtim.tv_nsec;
    }
    size_t want = std::min<size_t>(static_cast<size_t>(s.st_size), maxBytes);
    out.resize(want);
    size_t got = 0;
    while (got < want) {
        ssize_t n = ::read(fd, out.data() + got, want - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    out.resize(got);
    ::close(fd);
    return true;
}

namespace {
std::atomic<bool> g_linksOnly{false};
} // namespace

void SetLinksOnly(bool on)
{
    g_linksOnly = on;
}

bool LinksOnly()
{
    return g_linksOnly;
}

namespace {
// Where OnParserMessage puts the messages of the document being parsed.
thread_local DiagnosticList *g_currentMessages = nullptr;
} // namespace

int OnParserMessage(const html::Error *error)
{
    if (g_currentMessages && error)
        g_currentMessages->push_back(DiagnosticRecord{error->message, error->level, error->line});
    return 1;
}

namespace {

const char *findAttr(const char *const *attributes, std::string_view name)
{
    if (!attributes)
        return nullptr;
    for (size_t i = 0; attributes[i]; i += 2)
        if (equalsNoCase(attributes[i], name))
            return attributes[i + 1] ? attributes[i + 1] : "";
    return nullptr;
}

std::optional<std::string> optionalAttr(const char *const *attributes, std::string_view name)
{
    const char *v = findAttr(attributes, name);
    if (!v)
        return std::nullopt;
    return std::string(v);
}

// Makes the events CollectLinkEvents would make from the finished tree
// while the document is read, so that no tree is held.
class LinkCollector final : public html::BlockSink
{
public:
    explicit LinkCollector(std::vector<LinkEvent> &out) : m_out(out) {}

    size_t dropped = 0;
    int firstCutLine = 0;

    void openElement(int tag, const char *, const char *const *attributes, int line) override
    {
        Open open;
        if (!m_open.empty()) {
            Open &parent = m_open.back();
            if (parent.form != kNone && !parent.submitSeen && tag == html::TagInput) {
                const char *type = findAttr(attributes, "type");
                if (type && equalsNoCase(type, "submit")) {
                    parent.submitSeen = true;
                    m_out[parent.form].label = optionalAttr(attributes, "value");
                }
            }
        }
        LinkEvent e;
        bool collectsText = false;
        switch (tag) {
        case html::TagAnchor: {
            const char *href = findAttr(attributes, "href");
            if (!href)
                return push(open);
            e.href = href;
            collectsText = true;
            break;
        }
        case html::TagBase: {
            const char *href = findAttr(attributes, "href");
            if (!href)
                return push(open);
            e.type = LinkEvent::Base;
            e.href = href;
            break;
        }
        case html::TagForm: {
            const char *action = findAttr(attributes, "action");
            if (!action)
                return push(open);
            e.href = action;
            e.method = boxed(optionalAttr(attributes, "method"));
            open.form = m_out.size();
            break;
        }
        case html::TagImg:
        case html::TagImage: {
            const char *src = findAttr(attributes, "src");
            if (!src)
                return push(open);
            e.href = src;
            e.label = optionalAttr(attributes, "alt");
            e.flags = INLINED | (findAttr(attributes, "ISMAP") ? static_cast<uint32_t>(ISMAP) : 0u);
            break;
        }
        case html::TagInput: {
            const char *type = findAttr(attributes, "type");
            const char *src = findAttr(attributes, "src");
            if (!type || !equalsNoCase(type, "image") || !src)
                return push(open);
            e.href = src;
            e.label = optionalAttr(attributes, "value");
            e.flags = ISMAP;
            break;
        }
        case html::TagTitle:
            e.type = LinkEvent::Title;
            collectsText = true;
            break;
        default: {
            const char *href = findAttr(attributes, "href");
            if (!href)
                return push(open);
            e.href = href;
            e.label = optionalAttr(attributes, "role");
            break;
        }
        }
        if (e.type == LinkEvent::Child) {
            if (m_children >= kMaxPageChildren) {
                if (dropped++ == 0)
                    firstCutLine = line;
                open.form = kNone;
                return push(open);
            }
            ++m_children;
            e.line = static_cast<uint32_t>(std::max(0, line));
        }
        if (collectsText) {
            open.collects = true;
            m_collecting.push_back(m_out.size());
        }
        m_out.push_back(std::move(e));
        push(open);
    }

    void closeElement() override
    {
        if (m_open.empty())
            return;
        if (m_open.back().collects)
            m_collecting.pop_back();
        m_open.pop_back();
    }

    void text(std::string_view text) override
    {
        if (text.empty())
            return;
        for (size_t i : m_collecting) {
            std::optional<std::string> &label = m_out[i].label;
            if (label)
                label->append(text);
            else
                label.emplace(text);
        }
    }

    void repairUtf8() override
    {
        for (LinkEvent &e : m_out) {
            html::RepairUtf8(e.href);
            if (e.label)
                html::RepairUtf8(*e.label);
            if (e.method)
                html::RepairUtf8(*e.method);
        }
    }

private:
    static constexpr size_t kNone = static_cast<size_t>(-1);
    struct Open
    {
        size_t form = kNone; // the form's event, while its submit button is looked for
        bool submitSeen = false;
        bool collects = false; // its text is a label
    };

    void push(const Open &open) { m_open.push_back(open); }

    std::vector<LinkEvent> &m_out;
    std::vector<Open> m_open;
    std::vector<size_t> m_collecting;
    size_t m_children = 0;
};

} // namespace

PageEvents ParsePageBytes(std::string_view bytes, bool diagnostics)
{
    PageEvents page;
    html::ParseOptions options;
    options.diagnostics = diagnostics && !LinksOnly();
    LinkCollector links(page.events);
    g_currentMessages = &page.diagnostics;
    html::ScanBytes(
        bytes, links, [](const html::Error &e) { return OnParserMessage(&e); }, options);
    g_currentMessages = nullptr;
    if (links.dropped)
        page.diagnostics.push_back(CutNote(links.dropped, links.firstCutLine));
    return page;
}

DiagnosticRecord CutNote(size_t dropped, int line)
{
    return {"The page links to more than " + std::to_string(kMaxPageChildren) + " documents; the "
                + std::to_string(dropped) + " links after those are not in the tree",
            1, line};
}

bool ReadPageFile(const std::string &path, std::string &bytes, FileStatus *st)
{
    return ReadRegularFile(path, bytes, html::ParseOptions().maxBytes + 1, st);
}

PageEvents ParsePageFile(const std::string &path)
{
    std::string bytes;
    if (!ReadPageFile(path, bytes))
        return {};
    return ParsePageBytes(bytes);
}

void ApplyLinkEvents(SiteNode *node, const std::vector<LinkEvent> &events)
{
    for (const LinkEvent &e : events) {
        switch (e.type) {
        case LinkEvent::Child: {
            SiteNode *child = AddChild(node, e.href, e.label ? e.label->c_str() : nullptr);
            if (e.flags)
                child->flags |= e.flags;
            child->line = e.line;
            if (e.method)
                child->setMethod(SharedStr(*e.method));
            break;
        }
        case LinkEvent::Base:
            ParseUrl(node, e.href, nullptr);
            BuildUrl(node);
            break;
        case LinkEvent::Title:
            PrepareChange(node);
            node->title = e.label ? SharedStr(*e.label) : SharedStr();
            break;
        }
    }
}

} // namespace sylvix
