// The lazy mirrors and the equivalence index must answer exactly as the
// literal design does: copies made at once, equivalents found by walking.

#include "ModelFixture.h"

#include "model/Expand.h"
#include "model/Url.h"
#include "model/Walk.h"
#include "model/internal/NodeInternals.h"

#include <map>
#include <random>
#include <sys/stat.h>
#include <utime.h>

using namespace sylvix;
using namespace sylvix::test;

namespace {

std::string pathOf(SiteNode *n)
{
    std::vector<uint32_t> places;
    for (; n && n->parent(); n = n->parent())
        places.push_back(n->childIndex());
    std::string s = "/";
    for (auto it = places.rbegin(); it != places.rend(); ++it)
        s += std::to_string(*it) + "/";
    return s;
}

// Everything a caller can read of the tree, materialising as it goes.
std::string dump(SiteNode *root, int maxDepth)
{
    std::string out;
    std::vector<std::pair<SiteNode *, int>> stack{{root, 1}};
    while (!stack.empty()) {
        auto [n, d] = stack.back();
        stack.pop_back();
        out.append(static_cast<size_t>(d), ' ');
        out += n->url.str() + "|" + n->href.str() + "|" + n->label.str() + "|" + n->localPath.str()
               + "|" + n->title.str() + "|" + n->mimeType.str() + "|" + std::to_string(n->kind)
               + "|" + std::to_string(n->flags) + "|" + std::to_string(n->loaded()) + "|"
               + std::to_string(n->depth) + "|" + std::to_string(n->stat.mtime) + "|"
               + std::to_string(n->stat.size) + "|" + (n->equivalent ? pathOf(n->equivalent) : "-")
               + "|" + std::to_string(n->diagnostics ? n->diagnostics->size() : 0) + "\n";
        if (d >= maxDepth)
            continue;
        std::vector<SiteNode *> kids;
        for (SiteNode *c = n->firstChild(); c; c = c->nextSibling())
            kids.push_back(c);
        for (auto it = kids.rbegin(); it != kids.rend(); ++it)
            stack.push_back({*it, d + 1});
    }
    return out;
}

void setTime(const std::string &path, time_t t)
{
    struct utimbuf times
    {
        t, t
    };
    ::utime(path.c_str(), &times);
}

void refresh(SiteNode *n)
{
    if (NeedsReload(n) == ReloadResult::Expand)
        ExpandNode(n);
}

class Equivalence : public ServerFixture
{
protected:
    void makeSite(unsigned seed)
    {
        std::mt19937 rng(seed);
        const int pages = 25;
        auto name = [](int i) {
            return i == 0 ? std::string("index.html") : "p" + std::to_string(i) + ".html";
        };
        for (int i = 0; i < pages; ++i) {
            std::string body
                = "<html><head><title>Page " + std::to_string(i) + "</title></head><body>";
            int links = 2 + static_cast<int>(rng() % 6);
            for (int k = 0; k < links; ++k) {
                switch (rng() % 8) {
                case 0: body += "<a href=\"" + name(i) + "\">self</a>"; break;
                case 1: body += "<a href=\"./\">up</a>"; break;
                case 2:
                    body += "<img src=\"img" + std::to_string(rng() % 3) + ".gif\" alt=\"i\">";
                    break;
                case 3:
                    body += "<a href=\"missing" + std::to_string(rng() % 2) + ".html\">gone</a>";
                    break;
                case 4: body += "<a href=\"/index.html\">home</a>"; break;
                default:
                    body += "<a href=\"" + name(static_cast<int>(rng() % pages)) + "\">p</a>";
                    break;
                }
            }
            if (i % 7 == 3)
                body += "<p><b>unclosed <i>markup</p>";
            body += "</body></html>";
            doc(name(i), body);
        }
        doc("img0.gif", "GIF89a");
        doc("img1.gif", "GIF89a");
        // Same times on every run, so that both trees read the same status.
        for (auto &e : std::filesystem::recursive_directory_iterator(m_dir / "docs"))
            setTime(e.path(), 1500000000);
    }

    // A whole walk, then rows opened here and there as a user would, with
    // refreshes and pages changing on disk (which frees the children of
    // re-parsed pages, equivalents among them).
    std::string scenario(bool literal, unsigned seed)
    {
        makeSite(seed);
        SetLiteralMode(literal);
        SiteNode *root = CreateRootNode("http://www.example.org/index.html");
        WalkOptions w;
        WalkWholeTree(root, w);
        std::string out = dump(root, 3) + "----\n"; // leaves deeper mirrors pending
        std::mt19937 rng(seed);
        for (int step = 0; step < 200; ++step) {
            std::vector<SiteNode *> stack{root}, all;
            while (!stack.empty() && all.size() < 3000) {
                all.push_back(stack.back());
                stack.pop_back();
                for (SiteNode *c = all.back()->firstChild(); c; c = c->nextSibling())
                    stack.push_back(c);
            }
            SiteNode *n = all[rng() % all.size()];
            switch (rng() % 4) {
            case 0: {
                std::string body = "<title>v" + std::to_string(step) + "</title>";
                for (int k = 0; k < 3; ++k)
                    body += "<a href=p" + std::to_string(rng() % 25) + ".html>l</a>";
                setTime(doc("p" + std::to_string(1 + rng() % 24) + ".html", body),
                        1500000000 + step + 1);
                break;
            }
            case 1: refresh(n); break;
            default:
                for (SiteNode *c = n->firstChild(); c; c = c->nextSibling())
                    refresh(c);
            }
        }
        out += dump(root, 6);
        FreeNode(root);
        SetLiteralMode(false);
        EXPECT_EQ(IndexSize(), 0u);
        return out;
    }
};

} // namespace

TEST_F(Equivalence, LazyMirrorsAndIndexGiveTheLiteralTree)
{
    for (unsigned seed : {1u, 2u, 3u}) {
        const std::string literal = scenario(true, seed);
        const std::string lazy = scenario(false, seed); // same files, same times
        size_t at = 0;
        while (at < literal.size() && at < lazy.size() && literal[at] == lazy[at])
            ++at;
        EXPECT_TRUE(literal == lazy)
            << "seed " << seed << ", first difference at " << at << ":\n"
            << literal.substr(at > 300 ? at - 300 : 0, 600) << "\n--- lazy:\n"
            << lazy.substr(at > 300 ? at - 300 : 0, 600);
        EXPECT_GT(literal.size(), 1000u);
    }
}

// Random trees asked random questions, before and after branches go, URLs
// move and nodes unload. The second shape puts thousands of nodes under
// three URLs (pages every page links to), so that the index's sorted blocks
// split and empty.
TEST(EquivalenceIndex, FindsWhatTheOutwardWalkFinds)
{
    struct Shape
    {
        int rounds, nodes, urls, loadedOneIn, changes, unloads;
    };
    std::mt19937 rng(7);
    for (const Shape &shape : {Shape{20, 300, 12, 3, 5, 1}, Shape{1, 4000, 3, 8, 40, 20}}) {
        const auto someUrl = [&] { return "u" + std::to_string(rng() % shape.urls); };
        for (int round = 0; round < shape.rounds; ++round) {
            SiteNode *root = CreateNode();
            TreeGuard guard{root};
            SetUrl(root, "http://h/u0", nullptr);
            std::vector<SiteNode *> nodes{root};
            for (int i = 0; i < shape.nodes; ++i) {
                SiteNode *parent = nodes[rng() % nodes.size()];
                SiteNode *c = CreateNode();
                AppendChild(parent, c);
                SetUrl(c, someUrl(), parent);
                c->setLoaded(rng() % shape.loadedOneIn != 0);
                nodes.push_back(c);
            }
            auto check = [&](const char *when) {
                size_t loaded = 0;
                for (SiteNode *n : nodes)
                    loaded += n->loaded() != 0;
                EXPECT_EQ(IndexSize(), loaded) << when;
                for (int q = 0; q < 400; ++q) {
                    SiteNode *start = nodes[rng() % nodes.size()];
                    SiteNode *from = nullptr;
                    switch (rng() % 3) {
                    case 0: from = start->firstChild(); break;
                    case 1: from = start->parent(); break;
                    default: from = nodes[rng() % nodes.size()]; break;
                    }
                    SharedStr url = nodes[rng() % nodes.size()]->url;
                    ASSERT_EQ(IndexFindEquivalent(start, url, from),
                              WalkFindEquivalent(start, url, from))
                        << shape.nodes << " nodes, round " << round << ", " << when << ", query "
                        << q;
                }
            };
            check("built");
            for (int k = 0; k < shape.changes; ++k) {
                FreeChildren(nodes[1 + rng() % (nodes.size() - 1)]);
                nodes.clear();
                std::vector<SiteNode *> stack{root};
                while (!stack.empty()) {
                    SiteNode *n = stack.back();
                    stack.pop_back();
                    nodes.push_back(n);
                    for (SiteNode *c = n->firstChild(); c; c = c->nextSibling())
                        stack.push_back(c);
                }
                SiteNode *moved = nodes[rng() % nodes.size()];
                ParseUrl(moved, someUrl(), nullptr);
                BuildUrl(moved);
                for (int u = 0; u < shape.unloads; ++u)
                    nodes[rng() % nodes.size()]->setLoaded(0);
            }
            check("changed");
        }
        EXPECT_EQ(IndexSize(), 0u);
    }
}
