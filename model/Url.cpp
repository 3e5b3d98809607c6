#include "model/Url.h"

#include "model/Cause.h"
#include "model/SiteNode.h"
#include "model/internal/NodeInternals.h"
#include "platform/TextUtil.h"

#include <cctype>
#include <cstdio>

namespace sylvix {

namespace {

bool isAlnum(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

int32_t parsePort(std::string_view s)
{
    // Decimal digits after the ":", as far as they go.
    size_t i = 0;
    long long v = 0;
    readCNumber(s, i, INT32_MAX, v);
    return static_cast<int32_t>(v);
}

} // namespace

void ParseUrl(SiteNode *node, std::string_view text, SiteNode *parent)
{
    PrepareChange(node);
    for (size_t i = 0; i < text.size(); ++i)
        if (isSpace(text[i])) {
            text = text.substr(0, i);
            break;
        }

    const uint32_t depth = parent ? parent->depth + 1 : 1;
    struct Special
    {
        const char *prefix;
        const char *scheme;
    };
    static const Special specials[]
        = {{"mailto:", "mailto"}, {"news:", "news"}, {"nntp:", "nntp"}, {"telnet:", "telnet"}};
    for (const Special &s : specials) {
        std::string_view prefix(s.prefix);
        if (!startsWithNoCase(text, prefix))
            continue;
        node->depth = depth;
        node->scheme = SharedStr(s.scheme);
        std::string_view rest = text.substr(prefix.size());
        if (prefix == "telnet:") {
            size_t at = rest.find('@');
            if (at != std::string_view::npos) {
                rest = rest.substr(at + 1);
            } else {
                // No user part: the host as written, without "//" and a last "/".
                while (!rest.empty() && rest.front() == '/')
                    rest.remove_prefix(1);
                while (!rest.empty() && rest.back() == '/')
                    rest.remove_suffix(1);
            }
        }
        node->host = SharedStr(rest);
        return;
    }

    std::string_view t = text;
    size_t run = 0;
    while (run < t.size() && isAlnum(t[run]))
        ++run;
    if (run > 0 && run < t.size() && t[run] == ':') {
        node->scheme = SharedStr(t.substr(0, run));
        t = t.substr(run + 1);
    }

    std::string_view rest = t;
    if (t.substr(0, 2) == "//") {
        std::string_view a = t.substr(2);
        size_t end = a.find_first_of(":/");
        std::string_view host = a.substr(0, end == std::string_view::npos ? a.size() : end);
        if (!host.empty())
            node->host = SharedStr(host);
        std::string_view after = end == std::string_view::npos ? std::string_view() : a.substr(end);
        if (!after.empty() && after.front() == ':') {
            node->port = parsePort(after.substr(1));
            size_t slash = after.find('/');
            rest = slash == std::string_view::npos ? std::string_view("/") : after.substr(slash);
        } else {
            node->port = 80;
            rest = after.empty() ? std::string_view("/") : after;
        }
    }

    // The path ends at the first "?" or "#".
    size_t pathEnd = rest.find_first_of("?#");
    std::string_view path
        = rest.substr(0, pathEnd == std::string_view::npos ? rest.size() : pathEnd);
    size_t lastSlash = path.rfind('/');
    bool hasDir = false;
    if (lastSlash != std::string_view::npos) {
        node->dir = SharedStr(rest.substr(0, lastSlash + 1));
        rest = rest.substr(lastSlash + 1);
        hasDir = true;
    }
    size_t fileEnd = rest.find_first_of("?#");
    std::string_view file
        = rest.substr(0, fileEnd == std::string_view::npos ? rest.size() : fileEnd);
    if (!file.empty())
        node->file = SharedStr(file);
    if (fileEnd != std::string_view::npos) {
        if (rest[fileEnd] == '?')
            node->setQuery(SharedStr(rest.substr(fileEnd + 1)));
        else
            node->setFragment(SharedStr(rest.substr(fileEnd + 1)));
    }

    if (parent) {
        node->depth = depth;
        if (!node->scheme)
            node->scheme = parent->scheme;
        if (!node->host)
            node->host = parent->host;
        if (node->port == 0)
            node->port = parent->port;
        if (!node->dir) {
            node->dir = parent->dir;
            if (!node->file && parent->file)
                node->file = parent->file;
        } else if (hasDir && node->dir.view().front() != '/') {
            std::string joined(parent->dir.view());
            joined += node->dir.view();
            node->dir = SharedStr(joined);
        }
    } else {
        node->depth = 1;
    }

    if (!node->dir || node->port == 0 || !node->host) {
        if (!node->dir)
            node->dir = SharedStr("/");
        if (node->port == 0)
            node->port = 80;
        if (!node->host)
            node->host = SharedStr("");
        node->flags |= BROKEN;
        node->cause = CauseBadUrl;
    }

    if (node->dir.view().find("/../") != std::string_view::npos) {
        std::string d(node->dir.view());
        removeDotSegments(d);
        node->dir = SharedStr(d);
    }
}

namespace {

void appendHttpLike(std::string &out, const SiteNode *node, std::string_view host)
{
    out += node->scheme.view();
    out += "://";
    out += host;
    if (node->port != 80) {
        out += ':';
        out += std::to_string(node->port);
    }
    out += node->dir.view();
    out += node->file.view();
    if (node->query()) {
        out += '?';
        out += node->query().view();
    }
}

const char *specialPrefix(std::string_view scheme)
{
    if (equalsNoCase(scheme, "mailto"))
        return "mailto:";
    if (equalsNoCase(scheme, "news"))
        return "news:";
    if (equalsNoCase(scheme, "nntp"))
        return "nntp:";
    if (equalsNoCase(scheme, "telnet"))
        return "telnet:";
    return nullptr;
}

} // namespace

void BuildUrl(SiteNode *node)
{
    std::string out;
    if (node->flags & BROKEN) {
        // no text
    } else if (const char *prefix = specialPrefix(node->scheme.view())) {
        out = prefix;
        out += node->host.view();
    } else {
        appendHttpLike(out, node, node->host.view());
    }
    if (node->url.present() && node->url.view() == out)
        return;
    PrepareChange(node);
    UrlWillChange(node);
    node->url = SharedStr(out);
    UrlDidChange(node);
}

void SetUrl(SiteNode *node, std::string_view text, SiteNode *parent)
{
    PrepareChange(node);
    node->href = SharedStr(text);
    if (text == "./" || text == " ")
        text = "../";
    ParseUrl(node, text, parent);
    BuildUrl(node);
}

std::string LocalUrl(const SiteNode *node)
{
    std::string out;
    appendHttpLike(out, node,
                   (node->flags & EXTERNAL) ? node->host.view() : std::string_view("localhost"));
    if (node->fragment()) {
        out += '#';
        out += node->fragment().view();
    }
    return out;
}

} // namespace sylvix
