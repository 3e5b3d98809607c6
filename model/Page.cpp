#include "model/Page.h"

#include "model/Expand.h"
#include "model/Resolve.h"
#include "model/Text.h"
#include "model/Url.h"

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

void CollectLinkEvents(const html::Block *top, std::vector<LinkEvent> &out)
{
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
            e.method = attr(b, "method");
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
        out.push_back(std::move(e));
    });
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
// Where OnParserMessage puts the messages of the document being parsed.
thread_local DiagnosticList *g_currentMessages = nullptr;
} // namespace

int OnParserMessage(const html::Error *error)
{
    if (g_currentMessages && error)
        g_currentMessages->push_back(DiagnosticRecord{error->message, error->level, error->line});
    return 1;
}

PageEvents ParsePageBytes(std::string_view bytes, bool diagnostics)
{
    PageEvents page;
    g_currentMessages = &page.diagnostics;
    html::ParseOptions options;
    options.diagnostics = diagnostics;
    auto doc = html::ParseBytes(
        bytes, [](const html::Error &e) { return OnParserMessage(&e); }, options);
    g_currentMessages = nullptr;
    if (doc)
        CollectLinkEvents(doc->root(), page.events);
    return page;
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
            if (e.method)
                child->method = SharedStr(*e.method);
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
