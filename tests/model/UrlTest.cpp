#include "model/Url.h"
#include "model/SiteNode.h"

#include <gtest/gtest.h>

using namespace sylvix;

namespace {

struct Parts
{
    const char *scheme, *host;
    int port;
    const char *dir, *file, *query, *fragment;
    bool broken;
    const char *url;
};

std::string str(const SharedStr &s)
{
    return s.present() ? s.str() : "<none>";
}

void expectParts(SiteNode *n, const Parts &p, const std::string &what)
{
    SCOPED_TRACE(what);
    EXPECT_EQ(str(n->scheme), p.scheme);
    EXPECT_EQ(str(n->host), p.host);
    EXPECT_EQ(n->port, p.port);
    EXPECT_EQ(str(n->dir), p.dir);
    EXPECT_EQ(str(n->file), p.file);
    EXPECT_EQ(str(n->query()), p.query);
    EXPECT_EQ(str(n->fragment()), p.fragment);
    EXPECT_EQ((n->flags & BROKEN) != 0, p.broken);
    EXPECT_EQ(str(n->url), p.url);
}

} // namespace

TEST(Url, AbsoluteUrlsSplitIntoParts)
{
    struct Case
    {
        const char *text;
        Parts parts;
    } cases[] = {
        {"HTTP://Host:8080",
         {"HTTP", "Host", 8080, "/", "<none>", "<none>", "<none>", false, "HTTP://Host:8080/"}},
        {"http://host/a/b",
         {"http", "host", 80, "/a/", "b", "<none>", "<none>", false, "http://host/a/b"}},
        {"http://host/a/b/",
         {"http", "host", 80, "/a/b/", "<none>", "<none>", "<none>", false, "http://host/a/b/"}},
        {"http://h/page.html?x=1#y",
         {"http", "h", 80, "/", "page.html", "x=1#y", "<none>", false, "http://h/page.html?x=1#y"}},
        {"http://h/page.html#y?x",
         {"http", "h", 80, "/", "page.html", "<none>", "y?x", false, "http://h/page.html"}},
        {"ftp://h/x", {"ftp", "h", 80, "/", "x", "<none>", "<none>", false, "ftp://h/x"}},
        {"http://h:80/x", {"http", "h", 80, "/", "x", "<none>", "<none>", false, "http://h/x"}},
        {"http://h/a/../../x.html",
         {"http", "h", 80, "/../", "x.html", "<none>", "<none>", false, "http://h/../x.html"}},
        {"http://h/p.html?next=/a/b",
         {"http", "h", 80, "/", "p.html", "next=/a/b", "<none>", false,
          "http://h/p.html?next=/a/b"}},
        // No host to inherit: completed with defaults, broken, no URL text.
        {"foo.html", {"<none>", "", 80, "/", "foo.html", "<none>", "<none>", true, ""}},
        {"http://h:x/", {"http", "h", 80, "/", "<none>", "<none>", "<none>", true, ""}},
    };
    for (const Case &c : cases) {
        SiteNode *n = CreateNode();
        SetUrl(n, c.text, nullptr);
        expectParts(n, c.parts, c.text);
        EXPECT_EQ(n->href.str(), c.text);
        EXPECT_EQ(n->depth, 1u);
        FreeNode(n);
    }
}

TEST(Url, SpecialSchemesKeepOnlySchemeAndHost)
{
    struct Case
    {
        const char *text, *scheme, *host, *url;
    } cases[] = {
        {"mailto:someone at a host", "mailto", "someone", "mailto:someone"},
        {"MAILTO:Web@Example.org", "mailto", "Web@Example.org", "mailto:Web@Example.org"},
        {"news:comp.infosystems", "news", "comp.infosystems", "news:comp.infosystems"},
        {"nntp:group", "nntp", "group", "nntp:group"},
        {"telnet://guest@bbs.example.org", "telnet", "bbs.example.org", "telnet:bbs.example.org"},
        {"telnet://bbs.example.org/", "telnet", "bbs.example.org", "telnet:bbs.example.org"},
    };
    SiteNode *parent = CreateNode();
    SetUrl(parent, "http://h/a/index.html", nullptr);
    for (const Case &c : cases) {
        SiteNode *n = CreateNode();
        SetUrl(n, c.text, parent);
        SCOPED_TRACE(c.text);
        EXPECT_EQ(n->scheme.str(), c.scheme);
        EXPECT_EQ(n->host.str(), c.host);
        EXPECT_EQ(n->url.str(), c.url);
        EXPECT_FALSE(n->dir.present());
        EXPECT_EQ(n->port, 0);
        EXPECT_EQ(n->depth, 2u);
        FreeNode(n);
    }
    FreeNode(parent);
}

TEST(Url, RelativeLinksResolveAgainstTheLinkingPage)
{
    SiteNode *page = CreateNode();
    SetUrl(page, "http://Site:8000/a/b/x.html?q=1", nullptr);
    page->depth = 3;
    struct Case
    {
        const char *href, *url;
        const char *fragment;
    } cases[] = {
        {"#top", "http://Site:8000/a/b/x.html", "top"},
        {"?x=1", "http://Site:8000/a/b/x.html?x=1", nullptr},
        {"sub/p.html", "http://Site:8000/a/b/sub/p.html", nullptr},
        {"../p.html", "http://Site:8000/a/p.html", nullptr},
        {"/p.html", "http://Site:8000/p.html", nullptr},
        {"./", "http://Site:8000/a/", nullptr}, // leads to the parent directory
        {" ", "http://Site:8000/a/", nullptr},
        {"../../../../y.gif", "http://Site:8000/../../y.gif", nullptr}, // a leading "/../" stays
        {"//other/z.html", "http://other/z.html", nullptr},
        {"http://elsewhere:81/", "http://elsewhere:81/", nullptr},
        {"p.html  trailing words", "http://Site:8000/a/b/p.html", nullptr},
        {"sub/|\n./", "http://Site:8000/a/b/sub/|", nullptr}, // cut at the line feed
    };
    for (const Case &c : cases) {
        SiteNode *n = CreateNode();
        SetUrl(n, c.href, page);
        SCOPED_TRACE(c.href);
        EXPECT_EQ(n->url.str(), c.url);
        EXPECT_EQ(n->href.str(), c.href);
        EXPECT_EQ(n->depth, 4u);
        EXPECT_FALSE(n->flags & BROKEN);
        if (c.fragment) {
            EXPECT_EQ(n->fragment().str(), c.fragment);
        }
        FreeNode(n);
    }
    // An empty href, even a view without data, leads to the linking page
    // (the fuzzer found the pool comparing such a view with memcmp).
    SiteNode *self = CreateNode();
    SetUrl(self, std::string_view(), page);
    EXPECT_EQ(self->href, SharedStr(""));
    EXPECT_EQ(self->url.str(), "http://Site:8000/a/b/x.html");
    FreeNode(self);
    FreeNode(page);
}

TEST(Url, LocalUrlUsesLocalhostUnlessExternal)
{
    SiteNode *n = CreateNode();
    SetUrl(n, "http://www.example.org:8080/docs/a.html?x=1#part", nullptr);
    EXPECT_EQ(LocalUrl(n), "http://localhost:8080/docs/a.html?x=1#part");
    n->flags |= EXTERNAL;
    EXPECT_EQ(LocalUrl(n), "http://www.example.org:8080/docs/a.html?x=1#part");
    FreeNode(n);

    n = CreateNode();
    SetUrl(n, "http://www.example.org/", nullptr);
    EXPECT_EQ(n->url.str(), "http://www.example.org/");
    EXPECT_EQ(LocalUrl(n), "http://localhost/");
    FreeNode(n);
}
