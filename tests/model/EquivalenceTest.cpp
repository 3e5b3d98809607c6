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

std::string dumpChildren(SiteNode *n)
{
    std::string out;
    for (SiteNode *c : Children(n))
        out += dump(c, 1);
    return out;
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
        return out;
    }
};

} // namespace

TEST_F(Equivalence, LazyMirrorsAndIndexGiveTheLiteralTree)
{
    for (unsigned seed : {1u, 2u, 3u}) {
        const std::string literal = scenario(true, seed);
        EXPECT_EQ(scenario(false, seed), literal) << "seed " << seed; // same files, same times
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
                nodes = preorder(root);
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

// The walk meets q.html's link to p.html before p.html's children: the
// mirror waits while those children are resolved and parsed.
TEST_F(Equivalence, ExaminedChildrenOfAMirroredPageKeepOnlyWhatChanged)
{
    const int kLinks = 40;
    doc("index.html", "<a href=q.html>q</a><a href=p.html>p</a>");
    doc("q.html", "<a href=p.html>p again</a>");
    std::string p = "<title>P</title>";
    for (int i = 0; i < kLinks; ++i) {
        p += "<a href=c" + std::to_string(i) + ".html>" + std::to_string(i) + "</a>\n";
        if (i % 2)
            doc("c" + std::to_string(i) + ".html", "<title>C</title><a href=index.html>home</a>");
    }
    doc("p.html", p);
    stamp();

    SiteNode *root = CreateRootNode("http://www.example.org/index.html");
    TreeGuard guard{root};
    ASSERT_TRUE(WalkWholeTree(root, WalkOptions{}));
    SiteNode *source = root->lastChild(), *mirror = root->firstChild()->firstChild();
    ASSERT_TRUE(mirror && mirror->equivalent == source && mirror->mirrorPending());

    // One state per examined child, none holding a string or a file status
    // (either would take at least as much as a file status): what a child
    // was before it was resolved is all numbers.
    EXPECT_EQ(SavedStateCount(), static_cast<size_t>(kLinks));
    EXPECT_LE(SavedStateBytes(), SavedStateCount() * sizeof(FileStatus));

    // The mirror, opened now, shows the children as they were when taken:
    // not resolved, no local file, whatever they turned out to be since.
    const auto copies = Children(mirror);
    EXPECT_EQ(copies.size(), static_cast<size_t>(kLinks));
    for (SiteNode *c : copies)
        EXPECT_TRUE(!c->localPath && !c->mimeType && !(c->flags & BROKEN)) << c->url.view();
    EXPECT_EQ(SavedStateCount(), 0u);
}

// Mirrors taken before and between the changes of children, some changes
// moving a URL (a base element): each mirror gets its own moment, exactly
// as copies made at once would be.
TEST_F(Equivalence, MirrorsTakenBetweenChangesSeeTheirOwnMoment)
{
    doc("index.html", "<a href=p.html>1</a><a href=p.html>2</a><a href=p.html>3</a>");
    doc("p.html", "<a href=b.html>b</a><a href=c.html>c</a><a href=gone.html>gone</a>"
                  "<a href=img.gif>i</a>");
    doc("b.html", "<base href=\"http://www.example.org/elsewhere/b.html\">");
    doc("c.html", "<base href=\"http://www.example.org/sub/other.html\"><title>C</title>");
    doc("img.gif", "GIF89a");
    stamp();

    auto scenario = [&](bool literal) {
        SetLiteralMode(literal);
        SiteNode *root = CreateRootNode("http://www.example.org/index.html");
        TreeGuard guard{root};
        const auto ps = Children(root);
        if (ps.size() == 3)
            Refresh(ps[0]);
        const auto kids = Children(ps.size() == 3 ? ps[0] : nullptr);
        if (kids.size() != 4) {
            ADD_FAILURE() << "the pages are not as written";
            return std::string();
        }
        Refresh(ps[1]);       // mirrors ps[0] with its children not examined
        Refresh(kids[0]);     // resolved, then parsed (its base moves it): two changes
        NeedsReload(kids[1]); // resolved only
        Refresh(kids[2]);
        Refresh(ps[2]);      // mirrors again: kids[1] resolved, not parsed yet
        ExpandNode(kids[1]); // its base moves its URL
        Refresh(kids[3]);
        return dumpChildren(ps[1]) + "--\n" + dumpChildren(ps[2]) + "--\n" + dumpChildren(ps[0]);
    };
    const std::string literal = scenario(true);
    const std::string lazy = scenario(false);
    SetLiteralMode(false);
    EXPECT_EQ(lazy, literal);
    // The three lists differ: each moment is its own.
    const size_t a = literal.find("--\n"), b = literal.find("--\n", a + 3);
    EXPECT_NE(literal.substr(0, a), literal.substr(a + 3, b - a - 3));
    EXPECT_NE(literal.substr(a + 3, b - a - 3), literal.substr(b + 3));
}
