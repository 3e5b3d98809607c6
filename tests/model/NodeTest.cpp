// Nodes, their URLs, their shared strings and the texts shown for them.

#include "ModelFixture.h"

using namespace sylvix;
using namespace sylvix::test;

namespace {

// What a copy can take of a node.
std::string fields(const SiteNode *n)
{
    return n->url.str() + "|" + n->href.str() + "|" + n->label.str() + "|" + n->method().str() + "|"
           + FlagLetters(n->flags) + "|" + std::to_string(n->stat.size) + "|"
           + KindDisplayText(n->kind) + "|" + n->title.str() + "|"
           + std::to_string(n->diagnostics ? n->diagnostics->size() : 0) + "|"
           + std::to_string(n->childCount()) + "|" + std::to_string(n->loaded());
}

} // namespace

// A shallow copy takes what the link gave, not what examining found.
TEST(Node, ShallowCopyTakesWhatTheLinkGave)
{
    SiteNode *n = CreateNode();
    TreeGuard guard{n};
    SetUrl(n, "http://h/a/b.html?q#f", nullptr);
    n->title = "Title";
    n->label = "Label";
    n->kind = Html;
    n->flags = INLINED | VIRTUAL;
    n->setMethod("POST");
    n->stat.size = 42;
    n->diagnostics = std::make_shared<const DiagnosticList>(DiagnosticList{{"msg", 1, 3}});
    AppendChild(n, CreateNode());
    n->setLoaded(1);
    SiteNode *shallow = CopyNode(n, 0);
    TreeGuard shallowGuard{shallow};
    EXPECT_EQ(fields(shallow), "http://h/a/b.html?q#f|http://h/a/b.html?q#f|Label|POST|-V---I|42|"
                               "Unknown||0|0|0");
}

TEST(Node, FreeingHugeTreesNeedsNoRecursion)
{
    const size_t before = LiveNodeCount();
    SiteNode *wide = CreateNode(), *deep = CreateNode(), *at = deep;
    for (int i = 0; i < 100000; ++i) {
        AppendChild(wide, CreateNode());
        AppendChild(at, CreateNode());
        at = at->firstChild();
    }
    EXPECT_EQ(LiveNodeCount(), before + 200002);
    FreeNode(wide);
    FreeNode(deep);
    EXPECT_EQ(LiveNodeCount(), before);
}

TEST(SharedStr, PoolInternsReleasesAndStaysConsistent)
{
    const size_t before = SharedStr::poolSize();
    std::vector<SharedStr> held;
    for (int i = 0; i < 50000; ++i)
        held.emplace_back("pool-test-" + std::to_string(i));
    EXPECT_EQ(SharedStr::poolSize(), before + 50000);
    SharedStr copy = held[7];
    copy = SharedStr("another unique text"); // assigning releases the old text
    // Drop every third, then every entry must still be found as itself.
    for (size_t i = 0; i < held.size(); i += 3)
        held[i].reset();
    for (size_t i = 0; i < held.size(); ++i) {
        SharedStr again("pool-test-" + std::to_string(i));
        if (i % 3 == 0) {
            EXPECT_EQ(again.useCount(), 1u) << i;
        } else {
            EXPECT_EQ(again.id(), held[i].id()) << i;
            EXPECT_EQ(again.view(), held[i].view());
        }
    }
    held.clear();
    copy.reset();
    EXPECT_EQ(SharedStr::poolSize(), before);
    SharedStr none;
    EXPECT_STREQ(none.c_str(), "");
    EXPECT_FALSE(none.present());
    EXPECT_TRUE(SharedStr("").present());
}

TEST(Display, EachModeShowsItsOwnFieldAndNoneWhenEmpty)
{
    SiteNode *n = CreateNode(), *bare = CreateNode();
    TreeGuard guard{n}, bareGuard{bare};
    n->href = "a.html";
    n->localPath = "/srv/www/a.html";
    n->title = ""; // empty counts as absent
    n->label = "Home";
    n->url = "http://www.example.org/a.html";
    const char *texts[] = {"a.html", "/srv/www/a.html", "[none]", "Home",
                           "http://www.example.org/a.html"}; // in the order of the modes
    for (int m = 0; m <= 4; ++m) {
        EXPECT_EQ(DisplayText(*n, static_cast<DisplayMode>(m)), texts[m]) << m;
        EXPECT_EQ(DisplayText(*bare, static_cast<DisplayMode>(m)), "[none]") << m;
    }
}

TEST(Display, FlagLettersAndNamesKeepTheirOrders)
{
    const uint32_t all = ISMAP | BROKEN | EXTERNAL | NOTVER | VIRTUAL | INLINED;
    EXPECT_EQ(FlagLetters(all | 0x201), "EVMNBI"); // bits with no name are not shown
    EXPECT_EQ(FlagNames(all | 0x201), "ISMAP|BROKEN|EXTERNAL|NOTVER|VIRTUAL|INLINED");
    EXPECT_EQ(FlagLetters(BROKEN), "----B-");
}

namespace {

std::string str(const SharedStr &s)
{
    return s.present() ? s.str() : "-";
}

// "url|scheme|host|port|dir|file|query|fragment|depth", "!" first when broken;
// "-" for a part that is absent.
std::string parts(const SiteNode *n)
{
    return (n->flags & BROKEN ? "!" : "") + str(n->url) + "|" + str(n->scheme) + "|" + str(n->host)
           + "|" + std::to_string(n->port) + "|" + str(n->dir) + "|" + str(n->file) + "|"
           + str(n->query()) + "|" + str(n->fragment()) + "|" + std::to_string(n->depth);
}

std::string allParts(const SiteNode *n)
{
    return parts(n) + "|" + n->href.str() + "|" + std::to_string(n->flags) + "|"
           + std::to_string(n->cause);
}

} // namespace

TEST(Url, LinksSplitIntoPartsOnceAndAgain)
{
    SiteNode *page = CreateNode();
    TreeGuard guard{page};
    SetUrl(page, "http://Site:8000/a/b/x.html?q=1", nullptr);
    page->depth = 3;
    const std::tuple<bool, std::string, std::string> cases[] = {
        // relative to page, text, parts
        {false, "HTTP://Host:8080", "HTTP://Host:8080/|HTTP|Host|8080|/|-|-|-|1"},
        {false, "http://host/a/b", "http://host/a/b|http|host|80|/a/|b|-|-|1"},
        {false, "http://host/a/b/", "http://host/a/b/|http|host|80|/a/b/|-|-|-|1"},
        {false, "http://h/page.html?x=1#y",
         "http://h/page.html?x=1#y|http|h|80|/|page.html|x=1#y|-|1"},
        {false, "http://h/page.html#y?x", "http://h/page.html|http|h|80|/|page.html|-|y?x|1"},
        {false, "ftp://h/x", "ftp://h/x|ftp|h|80|/|x|-|-|1"},
        {false, "http://h:80/x", "http://h/x|http|h|80|/|x|-|-|1"},
        {false, "http://h/a/../../x.html", "http://h/../x.html|http|h|80|/../|x.html|-|-|1"},
        {false, "http://h/p.html?next=/a/b",
         "http://h/p.html?next=/a/b|http|h|80|/|p.html|next=/a/b|-|1"},
        // No host to inherit: completed with defaults, broken, no URL text.
        {false, "foo.html", "!|-||80|/|foo.html|-|-|1"},
        {false, "http://h:x/", "!|http|h|80|/|-|-|-|1"},
        // Special schemes keep only scheme and host.
        {true, "mailto:someone at a host", "mailto:someone|mailto|someone|0|-|-|-|-|4"},
        {true, "MAILTO:Web@Example.org",
         "mailto:Web@Example.org|mailto|Web@Example.org|0|-|-|-|-|4"},
        {true, "news:comp.infosystems", "news:comp.infosystems|news|comp.infosystems|0|-|-|-|-|4"},
        {true, "nntp:group", "nntp:group|nntp|group|0|-|-|-|-|4"},
        {true, "telnet://guest@bbs.example.org",
         "telnet:bbs.example.org|telnet|bbs.example.org|0|-|-|-|-|4"},
        {true, "telnet://bbs.example.org/",
         "telnet:bbs.example.org|telnet|bbs.example.org|0|-|-|-|-|4"},
        // Relative links resolve against the linking page.
        {true, "", "http://Site:8000/a/b/x.html|http|Site|8000|/a/b/|x.html|-|-|4"},
        {true, "b/../c/d", "http://Site:8000/a/b/c/d|http|Site|8000|/a/b/c/|d|-|-|4"},
        {true, "#top", "http://Site:8000/a/b/x.html|http|Site|8000|/a/b/|x.html|-|top|4"},
        {true, "?x=1", "http://Site:8000/a/b/x.html?x=1|http|Site|8000|/a/b/|x.html|x=1|-|4"},
        {true, "sub/p.html",
         "http://Site:8000/a/b/sub/p.html|http|Site|8000|/a/b/sub/|p.html|-|-|4"},
        {true, "../p.html", "http://Site:8000/a/p.html|http|Site|8000|/a/|p.html|-|-|4"},
        {true, "/p.html", "http://Site:8000/p.html|http|Site|8000|/|p.html|-|-|4"},
        {true, "./", "http://Site:8000/a/|http|Site|8000|/a/|-|-|-|4"}, // the parent directory
        {true, " ", "http://Site:8000/a/|http|Site|8000|/a/|-|-|-|4"},
        {true, "../../../../y.gif",
         "http://Site:8000/../../y.gif|http|Site|8000|/../../|y.gif|-|-|4"},
        {true, "//other/z.html", "http://other/z.html|http|other|80|/|z.html|-|-|4"},
        {true, "http://elsewhere:81/", "http://elsewhere:81/|http|elsewhere|81|/|-|-|-|4"},
        {true, "p.html  trailing words",
         "http://Site:8000/a/b/p.html|http|Site|8000|/a/b/|p.html|-|-|4"},
        {true, "sub/|\n./",
         "http://Site:8000/a/b/sub/||http|Site|8000|/a/b/sub/|||-|-|4"}, // cut at \n
    };
    for (const auto &[relative, text, expected] : cases) {
        SiteNode *n = CreateNode();
        SetUrl(n, text, relative ? page : nullptr);
        EXPECT_EQ(parts(n), expected) << text;
        EXPECT_EQ(n->href.str(), text);
        FreeNode(n);
    }
    // A child's URL, made again for a link met before, is what SetUrl makes
    // of a fresh node, whatever the parent's parts that the link leans on
    // (two parents share a directory, not a file).
    std::vector<SiteNode *> parents{page};
    for (const char *url : {"http://Site:8000/a/b/other.html", "http://Site:8000/a/b/",
                            "http://localhost/", "https://example.org:8080/x/"}) {
        parents.push_back(CreateNode());
        AppendChild(page, parents.back());
        SetUrl(parents.back(), url, nullptr);
    }
    for (int round = 0; round < 2; ++round) {
        for (SiteNode *parent : parents) {
            for (const auto &[relative, text, expected] : cases) {
                SiteNode *fresh = CreateNode();
                SetUrl(fresh, text, parent);
                EXPECT_EQ(allParts(AddChild(parent, text, nullptr)), allParts(fresh))
                    << round << " " << parent->url.str() << " + " << text;
                FreeNode(fresh);
            }
        }
    }
}

// Mirrors leave their source's list from anywhere in it, and the ones
// still there lose their equivalent when the source goes.
TEST(Node, FreeingASourceReleasesExactlyItsMirrors)
{
    SiteNode *source = CreateNode(), *other = CreateNode(), *holder = CreateNode();
    TreeGuard guard{holder};
    std::vector<SiteNode *> mirrors;
    for (int i = 0; i < 6; ++i) {
        mirrors.push_back(CreateNode());
        AppendChild(holder, mirrors.back());
        SetEquivalent(mirrors.back(), source);
    }
    SetEquivalent(mirrors[0], other); // the list's first (made last) and others move
    SetEquivalent(mirrors[5], other);
    SetEquivalent(mirrors[2], nullptr);
    FreeNode(source);
    std::vector<SiteNode *> equivalents;
    for (SiteNode *m : mirrors)
        equivalents.push_back(m->equivalent);
    EXPECT_EQ(equivalents,
              (std::vector<SiteNode *>{other, nullptr, nullptr, nullptr, nullptr, other}));
    FreeNode(other);
    EXPECT_TRUE(!mirrors[0]->equivalent && !mirrors[5]->equivalent);
}
