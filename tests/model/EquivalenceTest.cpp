// The lazy mirrors and the equivalence index must answer exactly as the
// literal design does: copies made at once, equivalents found by walking.
// And what a page keeps for mirrors not made yet costs a few numbers a child.

#include "ModelFixture.h"

#include "model/Walk.h"
#include "model/internal/NodeInternals.h"

#include <random>

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
               + "|" + n->dir.str() + "|" + n->file.str() + "|" + std::to_string(n->cause) + "|"
               + std::to_string(n->line) + "|" + std::to_string(n->flags) + "|"
               + std::to_string(n->loaded()) + "|" + std::to_string(n->depth) + "|"
               + std::to_string(n->stat.mtime) + "|" + std::to_string(n->stat.size) + "|"
               + (n->equivalent ? pathOf(n->equivalent) : "-") + "|"
               + std::to_string(n->diagnostics ? n->diagnostics->size() : 0) + "\n";
        if (d >= maxDepth)
            continue;
        const auto kids = Children(n);
        for (auto it = kids.rbegin(); it != kids.rend(); ++it)
            stack.push_back({*it, d + 1});
    }
    return out;
}

// Nodes in depth-first order, at most limit of them.
std::vector<SiteNode *> preorder(SiteNode *root, size_t limit = SIZE_MAX)
{
    std::vector<SiteNode *> stack{root}, all;
    while (!stack.empty() && all.size() < limit) {
        all.push_back(stack.back());
        stack.pop_back();
        for (SiteNode *c = all.back()->firstChild(); c; c = c->nextSibling())
            stack.push_back(c);
    }
    return all;
}

class Equivalence : public ServerFixture
{
protected:
    // Same times on every run, so that trees built one after the other
    // read the same status.
    void stamp()
    {
        for (auto &e : std::filesystem::recursive_directory_iterator(m_dir / "docs"))
            SetMtime(e.path(), 1500000000);
    }

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
        stamp();
    }

    // A whole walk, then rows opened here and there as a user would, with
    // refreshes and pages changing on disk (which frees the children of
    // re-parsed pages, equivalents among them).
    std::string scenario(bool literal, unsigned seed)
    {
        makeSite(seed);
        SetLiteralMode(literal);
        SiteNode *root = CreateRootNode("http://www.example.org/index.html");
        WalkWholeTree(root, WalkOptions{});
        // What a child was before it changed, kept for mirrors not made yet,
        // is all numbers: a string or a file status would take at least as
        // much as a file status.
        EXPECT_LE(SavedStateBytes(), SavedStateCount() * sizeof(FileStatus));
        m_saved += SavedStateCount();
        std::string out = dump(root, 3) + "----\n"; // leaves deeper mirrors pending
        std::mt19937 rng(seed);
        for (int step = 0; step < 200; ++step) {
            const auto all = preorder(root, 3000);
            SiteNode *n = all[rng() % all.size()];
            switch (rng() % 4) {
            case 0: {
                std::string body = "<title>v" + std::to_string(step) + "</title>";
                for (int k = 0; k < 3; ++k)
                    body += "<a href=p" + std::to_string(rng() % 25) + ".html>l</a>";
                SetMtime(doc("p" + std::to_string(1 + rng() % 24) + ".html", body),
                         1500000000 + step + 1);
                break;
            }
            case 1: Refresh(n); break;
            default:
                for (SiteNode *c : Children(n))
                    Refresh(c);
            }
        }
        out += dump(root, 6);
        FreeNode(root);
        SetLiteralMode(false);
        EXPECT_EQ(IndexSize(), 0u);
        EXPECT_EQ(SavedStateCount(), 0u);
        return out;
    }

    size_t m_saved = 0;
};

} // namespace

TEST_F(Equivalence, LazyMirrorsAndIndexGiveTheLiteralTree)
{
    for (unsigned seed : {1u, 2u, 3u}) {
        const std::string literal = scenario(true, seed);
        EXPECT_EQ(scenario(false, seed), literal) << "seed " << seed; // same files, same times
        EXPECT_GT(literal.size(), 1000u);
    }
    EXPECT_GT(m_saved, 0u);
}

// The whole-site walk asks in level order, loading each node right after
// asking and appending children meanwhile (which moves order labels), and
// each search starts where the last one ended; then branches go, URLs move
// and nodes unload, and random questions follow. The index must answer as
// the outward walk does. Two URLs that most pages link to make sets of many
// blocks, which split and empty.
TEST(EquivalenceIndex, FindsWhatTheOutwardWalkFinds)
{
    std::mt19937 rng(11);
    size_t asked = 0, found = 0;
    for (int round = 0; round < 12; ++round) {
        const size_t stop = asked + (round ? 300 : 3000), rare = round ? 12 : 400;
        const auto someUrl = [&] {
            return rng() % 8 ? "p" + std::to_string(rng() % 2) : "q" + std::to_string(rng() % rare);
        };
        SiteNode *root = CreateNode();
        TreeGuard guard{root};
        SetUrl(root, "http://h/p0", nullptr);
        root->setLoaded(1);
        std::vector<SiteNode *> level{root}, next;
        while (!level.empty() && asked < stop) {
            for (SiteNode *node : level) {
                SiteNode *parent = node->parent();
                if (parent) {
                    ++asked;
                    SiteNode *byIndex = IndexFindEquivalent(parent, node->url, node);
                    ASSERT_EQ(byIndex, WalkFindEquivalent(parent, node->url, node))
                        << "round " << round << ", query " << asked << " for " << node->url.str();
                    found += byIndex != nullptr;
                    node->setLoaded(1);
                }
                // A page that is not found elsewhere gets children, as a
                // parse gives them; the rest would mirror.
                if (parent && rng() % 3)
                    continue;
                for (int i = 2 + static_cast<int>(rng() % 40); i > 0; --i) {
                    SiteNode *c = CreateNode();
                    AppendChild(node, c);
                    SetUrl(c, someUrl(), node);
                    next.push_back(c);
                }
            }
            level.swap(next);
            next.clear();
        }
        std::vector<SiteNode *> nodes;
        for (int k = 0; k < 20; ++k) {
            nodes = preorder(root);
            FreeChildren(nodes[1 + rng() % (nodes.size() - 1)]);
            nodes = preorder(root);
            SiteNode *moved = nodes[rng() % nodes.size()];
            ParseUrl(moved, someUrl(), nullptr);
            BuildUrl(moved);
            for (int u = 0; u < 10; ++u)
                nodes[rng() % nodes.size()]->setLoaded(0);
        }
        size_t loaded = 0;
        for (SiteNode *n : nodes)
            loaded += n->loaded() != 0;
        EXPECT_EQ(IndexSize(), loaded) << "round " << round;
        for (int q = 0; q < 1000; ++q) {
            SiteNode *start = nodes[rng() % nodes.size()];
            SiteNode *from = nullptr;
            switch (rng() % 3) {
            case 0: from = start->firstChild(); break;
            case 1: from = start->parent(); break;
            default: from = nodes[rng() % nodes.size()]; break;
            }
            SharedStr url = nodes[rng() % nodes.size()]->url;
            ASSERT_EQ(IndexFindEquivalent(start, url, from), WalkFindEquivalent(start, url, from))
                << "round " << round << ", changed, query " << q;
        }
    }
    EXPECT_EQ(IndexSize(), 0u);
    EXPECT_GT(found, asked / 2); // most links go to pages seen before
    EXPECT_LT(found, asked);
}
