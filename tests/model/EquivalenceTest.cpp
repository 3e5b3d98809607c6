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

TEST(EquivalenceIndex, FindsWhatTheOutwardWalkFinds)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        SiteNode *root = CreateNode();
        SetUrl(root, "http://h/u0", nullptr);
        std::vector<SiteNode *> nodes{root};
        for (int i = 0; i < 300; ++i) {
            SiteNode *parent = nodes[rng() % nodes.size()];
            SiteNode *c = CreateNode();
            AppendChild(parent, c);
            SetUrl(c, "u" + std::to_string(rng() % 12), parent);
            if (rng() % 3)
                c->setLoaded(1);
            nodes.push_back(c);
        }
        auto check = [&] {
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
                    << "round " << round << " query " << q;
            }
        };
        check();
        // Change the tree: drop whole child lists, move URLs, unload nodes.
        for (int k = 0; k < 5; ++k) {
            SiteNode *victim = nodes[1 + rng() % (nodes.size() - 1)];
            FreeChildren(victim);
            std::vector<SiteNode *> alive;
            std::vector<SiteNode *> stack{root};
            while (!stack.empty()) {
                SiteNode *n = stack.back();
                stack.pop_back();
                alive.push_back(n);
                for (SiteNode *c = n->firstChild(); c; c = c->nextSibling())
                    stack.push_back(c);
            }
            nodes = alive;
            SiteNode *moved = nodes[rng() % nodes.size()];
            ParseUrl(moved, "u" + std::to_string(rng() % 12), nullptr);
            BuildUrl(moved);
            nodes[rng() % nodes.size()]->setLoaded(0);
        }
        check();
        FreeNode(root);
        EXPECT_EQ(IndexSize(), 0u);
    }
}
