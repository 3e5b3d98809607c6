#include "ModelFixture.h"

#include "model/Expand.h"
#include "model/Resolve.h"
#include "model/Url.h"

#include <sys/stat.h>

using namespace sylvix;
using namespace sylvix::test;

namespace {
class Resolve : public ServerFixture
{};
} // namespace

TEST_F(Resolve, LocalOrExternalByHostAndPort)
{
    struct Case
    {
        const char *url;
        bool external;
    } cases[] = {
        {"http://www.example.org/", false},
        {"http://WWW.Example.ORG/", false}, // the configured name ignores case
        {"http://localhost/", false},
        {"http://127.0.0.1/", false},
        {"http://LOCALHOST/", true}, // "localhost" itself is matched exactly
        {"http://www.example.org:8080/", true},
        {"http://other.org/", true},
        {"ftp://www.example.org/", true},
        {"mailto:web@example.org", true},
    };
    doc("index.html");
    for (const Case &c : cases) {
        SiteNode *n = node(c.url);
        EXPECT_EQ(ResolveNode(n), ResolveResult::Finished);
        SCOPED_TRACE(c.url);
        EXPECT_EQ((n->flags & EXTERNAL) != 0, c.external);
        EXPECT_EQ((n->flags & NOTVER) != 0, c.external); // checking is off
    }
}

TEST_F(Resolve, DocumentMapIndexAndDirectoryListing)
{
    std::string index = doc("index.html");
    doc("a/page.htm");
    m_dir.write("other/x.txt", "text");
    docMap("/other/", m_dir / "other");
    docMap("/rel/", "relative");
    m_dir.write("docs/relative/r.gif", "GIF89a");

    SiteNode *n = node("http://localhost/");
    ResolveNode(n);
    EXPECT_EQ(n->localPath.str(), index);
    EXPECT_EQ(n->kind, Html);
    EXPECT_FALSE(n->flags & BROKEN);
    EXPECT_GT(n->stat.size, 0);

    n = node("http://localhost/a/page.htm");
    ResolveNode(n);
    EXPECT_EQ(n->localPath.str(), m_dir / "docs/a/page.htm");
    EXPECT_EQ(n->mimeType.str(), "text/html");

    n = node("http://localhost/OTHER/x.txt"); // prefixes ignore case
    ResolveNode(n);
    EXPECT_EQ(n->localPath.str(), m_dir / "other/x.txt");
    EXPECT_EQ(n->kind, TextDoc);

    // A relative map entry is joined to the document root as written.
    n = node("http://localhost/rel/r.gif");
    ResolveNode(n);
    EXPECT_TRUE(n->flags & BROKEN) << n->localPath.str();
    docMap("/", m_dir / "docs/");
    n = node("http://localhost/rel/r.gif");
    ResolveNode(n);
    EXPECT_EQ(n->localPath.str(), m_dir / "docs/relative/r.gif");
    EXPECT_EQ(n->kind, Image);
    docMap("/", m_dir / "docs");

    n = node("http://localhost/missing.html");
    ResolveNode(n);
    EXPECT_TRUE(n->flags & BROKEN);

    // A directory without its index document lists, when the server lists.
    m_dir.write("docs/noindex/f.txt", "x");
    n = node("http://localhost/noindex/");
    ResolveNode(n);
    EXPECT_EQ(n->kind, HtmlDir);
    EXPECT_EQ(n->localPath.str(), m_dir / "docs/noindex");
    EXPECT_TRUE(n->flags & BROKEN);
    auto di = m_server->createKey("DirIndex");
    WriteBinary32(*di, "EnableIndexing", 1);
    n = node("http://localhost/noindex/");
    ResolveNode(n);
    EXPECT_EQ(n->kind, HtmlDir);
    EXPECT_FALSE(n->flags & BROKEN);
}

TEST_F(Resolve, SpecialPathsAndServerFunctions)
{
    m_dir.write("srv/icons/back.gif", "GIF89a");
    struct Case
    {
        const char *url;
        uint32_t kind;
        bool isVirtual;
    } cases[] = {
        {"http://localhost/~stats", Stats, true},
        {"http://localhost/~ZERO-CTRS", ZeroStats, true},
        {"http://localhost/~/~cycle-acc", CycleAccess, true},
        {"http://localhost/~x/~cycle-err", CycleErrors, true},
        {"http://localhost/~x/cycle-err", Unknown, false}, // the name's first character is dropped
        {"http://localhost/~cycle-both", CycleAll, true},
        {"http://localhost/~imagemap/nav", ImageMap, true},
        {"http://localhost/~icons/back.gif", Image, false},
    };
    for (const Case &c : cases) {
        SiteNode *n = node(c.url);
        ResolveNode(n);
        SCOPED_TRACE(c.url);
        EXPECT_EQ(n->kind, c.kind);
        EXPECT_EQ((n->flags & VIRTUAL) != 0, c.isVirtual);
    }
    SiteNode *icon = node("http://localhost/~icons/back.gif");
    ResolveNode(icon);
    EXPECT_EQ(icon->localPath.str(), m_dir / "srv/icons/back.gif");
    EXPECT_FALSE(icon->flags & BROKEN);
    SiteNode *map = node("http://localhost/~imagemap/nav");
    ResolveNode(map);
    EXPECT_EQ(map->file.str(), "nav");
    EXPECT_FALSE(map->localPath.present());
}

TEST_F(Resolve, ProgramMapsFindTheProgramBehindExtraPath)
{
    std::string prog = m_dir.write("progs/win/prog.exe", "MZ");
    m_dir.write("progs/sh/run.sh", "#!/bin/sh\n");
    set("WinExeMap", "/cgi-win/", m_dir / "progs/win");
    set("ShellExeMap", "/cgi-bin/", m_dir / "progs/sh");
    set("ConsExeMap", "/cgi", m_dir / "nowhere"); // shorter prefix loses

    SiteNode *n = node("http://localhost/cgi-win/prog.exe/extra/path");
    ResolveNode(n);
    EXPECT_EQ(n->localPath.str(), prog);
    EXPECT_TRUE(n->flags & VIRTUAL);
    EXPECT_EQ(n->kind, Program);
    EXPECT_FALSE(n->flags & BROKEN);

    n = node("http://localhost/cgi-bin/run.sh?q=1");
    ResolveNode(n);
    EXPECT_EQ(n->localPath.str(), m_dir / "progs/sh/run.sh");
    EXPECT_EQ(n->kind, Program);
}

TEST_F(Resolve, RedirectsAreFollowedAndLoopsEnd)
{
    doc("new/page.html");
    set("RedirMap", "/old/page.html", "/new/page.html");
    set("RedirMap", "/b/", "http://localhost/new/");
    SiteNode *n = node("http://www.example.org/old/page.html");
    ResolveNode(n);
    EXPECT_EQ(n->url.str(), "http://www.example.org/new/page.html"); // keeps host and port
    EXPECT_EQ(n->localPath.str(), m_dir / "docs/new/page.html");

    // '/b/x.html' is not '/b/': names match dir and file together.
    n = node("http://localhost/b/x.html");
    ResolveNode(n);
    EXPECT_EQ(n->url.str(), "http://localhost/b/x.html");

    set("RedirMap", "/loop/a.html", "/loop/b.html");
    set("RedirMap", "/loop/b.html", "/loop/a.html");
    n = node("http://localhost/loop/a.html");
    EXPECT_EQ(ResolveNode(n), ResolveResult::Finished);
    EXPECT_TRUE(n->flags & BROKEN);
}

TEST_F(Resolve, KindsFromTypes)
{
    struct Case
    {
        const char *file;
        uint32_t kind;
    } cases[] = {{"a.html", Html},   {"b.gif", Image},  {"c.txt", TextDoc}, {"d.au", Audio},
                 {"e.mpg", Video},   {"f.ps", TextDoc}, {"g.sh", Program},  {"h.bin", Unknown},
                 {"noext", Unknown}, {"I.HTML", Html}};
    for (const Case &c : cases) {
        doc(c.file, "x");
        SiteNode *n = node(std::string("http://localhost/") + c.file);
        ResolveNode(n);
        SCOPED_TRACE(c.file);
        EXPECT_EQ(n->kind, c.kind);
    }
    // A fragment makes a page HTML, but an image stays an image.
    SiteNode *n = node("http://localhost/b.gif#x");
    ResolveNode(n);
    EXPECT_EQ(n->kind, Image);
    n = node("http://localhost/noext#x");
    ResolveNode(n);
    EXPECT_EQ(n->kind, Html);
    EXPECT_EQ(n->mimeType.str(), "text/html");
}

TEST_F(Resolve, PathsTooLongAndOddFilesAreBrokenNotFatal)
{
    SiteNode *n = node("http://localhost/" + std::string(5000, 'x') + ".html");
    EXPECT_EQ(ResolveNode(n), ResolveResult::Finished);
    EXPECT_TRUE(n->flags & BROKEN);

    // Resolving marks a pipe broken (HostileInput); parsing it directly must not block either.
    doc("index.html");
    ASSERT_EQ(::mkfifo((m_dir / "docs/pipe.html").c_str(), 0600), 0);
    n = node("http://localhost/pipe.html");
    ResolveNode(n);
    ParseDocument(n);
    EXPECT_EQ(n->firstChild(), nullptr);
}

// (Dot segments alone are tested with removeDotSegments.)
TEST(NormalizeLocalPath, SeparatorsThenDotSegments)
{
    std::string p = "c:\\root\\a\\..\\b.html";
    NormalizeLocalPath(p);
    EXPECT_EQ(p, "c:/root/b.html");
}
