// What a page keeps for mirrors that are not made yet: its children, once
// examined, keep only what changed, and a mirror made later still gets the
// children as they stood when it was taken. And the equivalence index,
// which holds one pointer per loaded node.

#include "ModelFixture.h"

#include "model/Expand.h"
#include "model/Walk.h"
#include "model/internal/NodeInternals.h"

#include <sys/stat.h>
#include <utime.h>

using namespace sylvix;
using namespace sylvix::test;

namespace {

// Child i of n, in document order.
SiteNode *nth(SiteNode *n, int i)
{
    SiteNode *c = n ? n->firstChild() : nullptr;
    while (c && i-- > 0)
        c = c->nextSibling();
    return c;
}

// What a copy took: every field a shallow copy has.
std::string children(SiteNode *n)
{
    std::string out;
    for (SiteNode *c = n->firstChild(); c; c = c->nextSibling())
        out += c->url.str() + "|" + c->href.str() + "|" + c->label.str() + "|" + c->dir.str() + "|"
               + c->file.str() + "|" + c->localPath.str() + "|" + c->mimeType.str() + "|"
               + std::to_string(c->flags) + "|" + std::to_string(c->cause) + "|"
               + std::to_string(c->depth) + "|" + std::to_string(c->line) + "|"
               + std::to_string(c->stat.size) + "|" + std::to_string(c->stat.mtime) + "\n";
    return out;
}

void refresh(SiteNode *n)
{
    if (NeedsReload(n) == ReloadResult::Expand)
        ExpandNode(n);
}

class MirrorMemory : public ServerFixture
{
protected:
    void stamp()
    {
        for (auto &e : std::filesystem::recursive_directory_iterator(m_dir / "docs")) {
            struct utimbuf t
            {
                1500000000, 1500000000
            };
            ::utime(e.path().c_str(), &t);
        }
    }
};

} // namespace

// The walk meets q.html's link to p.html before p.html's children: the
// mirror waits while those children are resolved and parsed.
TEST_F(MirrorMemory, ExaminedChildrenOfAMirroredPageKeepOnlyWhatChanged)
{
    const int kLinks = 40;
    doc("index.html", "<a href=q.html>q</a><a href=p.html>p</a>");
    doc("q.html", "<a href=p.html>p again</a>");
    std::string p = "<title>P</title>";
    for (int i = 0; i < kLinks; ++i) {
        const std::string name = "c" + std::to_string(i) + ".html";
        p += "<a href=" + name + ">" + std::to_string(i) + "</a>\n";
        if (i % 2)
            doc(name, "<title>C</title><a href=index.html>home</a>");
    }
    doc("p.html", p);
    stamp();

    SiteNode *root = CreateRootNode("http://www.example.org/index.html");
    TreeGuard guard{root};
    ASSERT_TRUE(WalkWholeTree(root, WalkOptions{}));
    SiteNode *source = nth(root, 1);
    SiteNode *mirror = nth(nth(root, 0), 0);
    ASSERT_TRUE(source && mirror);
    ASSERT_EQ(mirror->equivalent, source);
    ASSERT_TRUE(mirror->mirrorPending());

    // One state per examined child, none holding a string or a file status
    // (either would take at least as much as a file status): what a child
    // was before it was resolved is all numbers.
    EXPECT_EQ(SavedStateCount(), static_cast<size_t>(kLinks));
    EXPECT_LE(SavedStateBytes(), SavedStateCount() * sizeof(FileStatus));

    // The mirror, opened now, shows the children as they were when taken:
    // not resolved, no local file, whatever they turned out to be since.
    int resolved = 0;
    for (SiteNode *c = source->firstChild(); c; c = c->nextSibling())
        resolved += c->localPath.present();
    EXPECT_EQ(resolved, kLinks);
    int copies = 0;
    for (SiteNode *c = mirror->firstChild(); c; c = c->nextSibling(), ++copies) {
        EXPECT_FALSE(c->localPath.present()) << c->url.view();
        EXPECT_FALSE(c->mimeType.present()) << c->url.view();
        EXPECT_EQ(c->flags & BROKEN, 0u) << c->url.view();
    }
    EXPECT_EQ(copies, kLinks);
    EXPECT_EQ(SavedStateCount(), 0u);
    EXPECT_EQ(SavedStateBytes(), 0u);
}

// Mirrors taken before and between the changes of children, some changes
// moving a URL (a base element): each mirror gets its own moment, exactly
// as copies made at once would be.
TEST_F(MirrorMemory, MirrorsTakenBetweenChangesSeeTheirOwnMoment)
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
        std::vector<SiteNode *> ps;
        for (SiteNode *c = root->firstChild(); c; c = c->nextSibling())
            ps.push_back(c);
        if (ps.size() == 3)
            refresh(ps[0]);
        if (ps.size() != 3 || !nth(ps[0], 3)) {
            ADD_FAILURE() << "the pages are not as written";
            return std::string();
        }
        refresh(ps[1]); // mirrors ps[0] with its children not examined
        SiteNode *b = nth(ps[0], 0);
        refresh(b); // resolved, then parsed: two changes while one mirror waits
        EXPECT_EQ(b->dir.view(), "/elsewhere/");
        SiteNode *c = nth(ps[0], 1);
        EXPECT_EQ(NeedsReload(c), ReloadResult::Expand);
        refresh(nth(ps[0], 2));
        refresh(ps[2]); // mirrors again: c resolved, not parsed yet
        ExpandNode(c);  // its base moves its URL
        refresh(nth(ps[0], 3));
        EXPECT_EQ(c->dir.view(), "/sub/");
        const size_t savedBefore = SavedStateCount();
        std::string out = children(ps[1]) + "--\n" + children(ps[2]) + "--\n" + children(ps[0]);
        // Copies made at once need no saved state; waiting mirrors do,
        // until they are made.
        EXPECT_EQ(savedBefore > 0, !literal);
        EXPECT_EQ(SavedStateCount(), 0u);
        return out;
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
