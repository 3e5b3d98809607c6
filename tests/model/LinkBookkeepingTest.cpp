#include "model/Expand.h"
#include "model/SiteNode.h"
#include "model/Url.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sylvix {
namespace {

std::string urlFields(SiteNode *n)
{
    return n->href.str() + "|" + n->scheme.str() + "|" + n->host.str() + "|"
           + std::to_string(n->port) + "|" + n->dir.str() + "|" + n->file.str() + "|"
           + n->query().str() + "|" + n->fragment().str() + "|" + n->url.str() + "|"
           + std::to_string(n->flags) + "|" + std::to_string(n->cause) + "|"
           + std::to_string(n->depth) + "|" + (n->url.present() ? "u" : "-");
}

// A child's URL, made again for a link met before, is what SetUrl makes of
// a fresh node, whatever the parent's parts that the link leans on.
TEST(LinkBookkeeping, RepeatedLinksGetTheUrlsSetUrlGives)
{
    const std::vector<std::string> parents
        = {"http://localhost/",        "http://localhost/a/b/page.html",
           "http://localhost:8080/a/", "https://example.org/x/",
           "http://localhost/a/b/",    "http://localhost/a/b/other.html"};
    const std::vector<std::string> hrefs
        = {"",      "./",         " ",          "c.html",      "../up.html", "sub/",
           "?q=1",  "#top",       "/abs/p.htm", "//h2/p",      "mailto:x@y", "telnet://h/",
           "http:", "x.html?a#b", "b/../c/d",   "http://o:99", "news:g.x",   "ftp://f/p"};
    std::vector<SiteNode *> roots;
    for (const std::string &p : parents) {
        SiteNode *root = CreateNode();
        SetUrl(root, p, nullptr);
        roots.push_back(root);
    }
    for (int round = 0; round < 2; ++round) {
        for (SiteNode *root : roots) {
            for (const std::string &h : hrefs) {
                SiteNode *child = AddChild(root, h, nullptr);
                SiteNode *fresh = CreateNode();
                SetUrl(fresh, h, root);
                EXPECT_EQ(urlFields(child), urlFields(fresh))
                    << "round " << round << ", " << root->url.str() << " + " << h;
                FreeNode(fresh);
            }
        }
    }
    for (SiteNode *root : roots)
        FreeNode(root);
}

// Mirrors leave their source's list from anywhere in it, and the ones
// still there lose their equivalent when the source goes.
TEST(LinkBookkeeping, FreeingASourceReleasesExactlyItsMirrors)
{
    SiteNode *source = CreateNode();
    SiteNode *other = CreateNode();
    SiteNode *holder = CreateNode();
    std::vector<SiteNode *> mirrors;
    for (int i = 0; i < 6; ++i) {
        SiteNode *m = CreateNode();
        AppendChild(holder, m);
        SetEquivalent(m, source);
        mirrors.push_back(m);
    }
    SetEquivalent(mirrors[0], other); // the list's first (made last) and others move
    SetEquivalent(mirrors[5], other);
    SetEquivalent(mirrors[2], nullptr);
    FreeNode(source);
    const std::vector<SiteNode *> expected = {other, nullptr, nullptr, nullptr, nullptr, other};
    for (size_t i = 0; i < mirrors.size(); ++i)
        EXPECT_EQ(mirrors[i]->equivalent, expected[i]) << i;
    FreeNode(other);
    for (SiteNode *m : mirrors)
        EXPECT_EQ(m->equivalent, nullptr);
    FreeNode(holder);
}

} // namespace
} // namespace sylvix
