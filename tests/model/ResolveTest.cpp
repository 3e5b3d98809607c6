// Where the server's configuration sends a URL: local file, program, server
// function or elsewhere; and what else is read from the configuration.

#include "ModelFixture.h"

#include "model/Resolve.h"
#include "model/WatchDirs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <set>

using namespace sylvix;
using namespace sylvix::test;

namespace {

class Resolve : public ServerFixture
{
protected:
    std::string resolved(const std::string &url)
    {
        SiteNode *n = node(url);
        EXPECT_EQ(ResolveNode(n), ResolveResult::Finished) << url;
        return brief(n);
    }
    std::set<std::string> watched()
    {
        const std::vector<std::string> dirs = DirectoriesToWatch();
        return {dirs.begin(), dirs.end()};
    }
};

} // namespace

TEST_F(Resolve, UrlsToFilesProgramsAndFunctions)
{
    for (const char *f : {"index.html", "a/page.htm", "b.gif", "c.txt", "g.sh", "noext", "I.HTML",
                          "relative/r.gif", "noindex/f.txt"})
        doc(f, "x");
    for (const char *f : {"other/x.txt", "srv/icons/back.gif", "progs/win/prog.exe",
                          "progs/win2/p.exe", "progs/sh/run.sh"})
        m_dir.write(f, "x");
    docMap("/other/", m_dir / "other");
    docMap("/rel/", "relative");
    set("WinExeMap", "/cgi-win/", m_dir / "progs/win");
    set("ShellExeMap", "/cgi-bin/", m_dir / "progs/sh");
    set("WinExeMap", "/cgi-bin/win/", m_dir / "progs/win2");
    set("WinExeMap", "/CGI-BIN/", m_dir / "nowhere"); // equal length: the first map met wins
    set("ConsExeMap", "/cgi", m_dir / "nowhere");     // shorter prefix loses
    const std::string longPath = "http://localhost/" + std::string(5000, 'x') + ".html";
    const std::pair<std::string, std::string> cases[] = {
        {"http://www.example.org/", "HTML ------ docs/index.html"},
        {"http://WWW.Example.ORG/", "HTML ------ docs/index.html"}, // the name ignores case
        {"http://localhost/", "HTML ------ docs/index.html"},
        {"http://127.0.0.1/", "HTML ------ docs/index.html"},
        // Checking is off: external links are not verified.
        {"http://LOCALHOST/", "Unknown E--N-- "}, // "localhost" itself is matched exactly
        {"http://www.example.org:8080/", "Unknown E--N-- "},
        {"ftp://www.example.org/", "FTP E--N-- "},
        {"mailto:web@example.org", "MailTo E--N-- "},
        {"http://localhost/a/page.htm", "HTML ------ docs/a/page.htm"},
        {"http://localhost/OTHER/x.txt", "Text ------ other/x.txt"}, // prefixes ignore case
        // A relative map entry is joined to the document root as written.
        {"http://localhost/rel/r.gif", "Image ----B- docsrelative/r.gif"},
        {"http://localhost/missing.html", "HTML ----B- docs/missing.html"},
        {longPath, "Unknown ----B- "},
        {"http://localhost/noindex/", "HTML Dir ----B- docs/noindex"}, // the server does not list
        {"http://localhost/b.gif", "Image ------ docs/b.gif"},
        {"http://localhost/c.txt", "Text ------ docs/c.txt"},
        {"http://localhost/g.sh", "Program -V---- docs/g.sh"},
        {"http://localhost/noext", "Unknown ------ docs/noext"},
        {"http://localhost/I.HTML", "HTML ------ docs/I.HTML"},
        // A fragment makes a page HTML, but an image stays an image.
        {"http://localhost/b.gif#x", "Image ------ docs/b.gif"},
        {"http://localhost/noext#x", "HTML ------ docs/noext"},
        {"http://localhost/~stats", "Stats -V---- "},
        {"http://localhost/~x/~cycle-err", "Cycle Errors -V---- "},
        {"http://localhost/~x/cycle-err", "Unknown ----B- docs/~x/cycle-err"}, // first char dropped
        {"http://localhost/~imagemap/nav", "ImageMap -V---- "},
        {"http://localhost/~icons/back.gif", "Image ------ srv/icons/back.gif"},
        // Programs behind extra path, by the longest prefix over all three maps.
        {"http://localhost/cgi-win/prog.exe/extra/path", "Program -V---- progs/win/prog.exe"},
        {"http://localhost/cgi-bin/run.sh?q=1", "Program -V---- progs/sh/run.sh"},
        {"http://localhost/Cgi-Bin/win/p.exe", "Program -V---- progs/win2/p.exe"},
    };
    for (const auto &[url, expected] : cases)
        EXPECT_EQ(resolved(url), expected) << url;
    EXPECT_EQ(m_nodes[20]->mimeType.str(), "text/html"); // noext#x

    // With a slash after the document root the relative entry is found;
    // a directory lists once the server lists.
    docMap("/", m_dir / "docs/");
    WriteBinary32(*m_server->createKey("DirIndex"), "EnableIndexing", 1);
    EXPECT_EQ(resolved("http://localhost/rel/r.gif"), "Image ------ docs/relative/r.gif");
    EXPECT_EQ(resolved("http://localhost/noindex/"), "HTML Dir ------ docs/noindex");
    docMap("/o", m_dir / "other/"); // a separator on both sides of the join is not doubled
    EXPECT_EQ(resolved("http://localhost/o/x.txt"), "Text ------ other/x.txt");
    docMap("/", "docs"); // a relative document root goes below the server root
    EXPECT_EQ(resolved("http://localhost/c.txt"), "Text ----B- srv/docs/c.txt");

    std::string p = "c:\\root\\a\\..\\b.html";
    NormalizeLocalPath(p); // separators first, then dot segments
    EXPECT_EQ(p, "c:/root/b.html");
}

TEST_F(Resolve, RedirectsAreFollowedAndLoopsEnd)
{
    doc("new/page.html");
    set("RedirMap", "/old/page.html", "/new/page.html");
    set("RedirMap", "/b/", "http://localhost/new/");
    set("RedirMap", "/loop/a.html", "/loop/b.html");
    set("RedirMap", "/loop/b.html", "/loop/a.html");
    const std::pair<const char *, const char *> cases[] = {
        {"http://www.example.org/old/page.html", "http://www.example.org/new/page.html"},
        {"http://localhost:80/OLD/Page.HTML", "http://localhost/new/page.html"}, // ignores case
        {"http://localhost/b/", "http://localhost/new/"},
        {"http://localhost/b/x.html", "http://localhost/b/x.html"}, // dir and file match together
        {"http://localhost/old/", "http://localhost/old/"},
    };
    for (const auto &[url, after] : cases) {
        SiteNode *n = node(url);
        ResolveNode(n);
        EXPECT_EQ(n->url.str(), after);
    }
    EXPECT_EQ(m_nodes[0]->localPath.str(), m_dir / "docs/new/page.html");
    EXPECT_EQ(resolved("http://localhost/loop/a.html"), "Unknown ----B- ");
}

TEST_F(Resolve, TypesAndChangesSeenAtTheNextLookup)
{
    typeMap("", "text/plain");
    const std::pair<std::string, std::string> cases[] = {
        {TypeForFile("index.HTML"), "text/html"},
        {TypeForFile("/a/b.c/noext"), "application/octet-stream"},
        {TypeForFile("README"), "text/plain"}, // the entry for no extension
        {TypeForFile(nullptr), "text/html"},
        {TypeForFile("x.unknown"), "application/octet-stream"},
        {ExtensionForType("TEXT/HTML"), ".html"}, // the first in store order
        {ExtensionForType("text/plain"), ".txt"},
        {ExtensionForType("application/x-none"), ""},
    };
    for (const auto &[got, expected] : cases)
        EXPECT_EQ(got, expected);

    // Another connection's change is seen; no change, nothing read again.
    WriteString(*OpenSqliteStore(m_dir / "registry.db")
                     ->root()
                     ->openKey(std::string(kServerKeyPath) + "\\TypeMap"),
                ".xyz", "text/x-xyz");
    EXPECT_EQ(TypeForFile("a.xyz"), "text/x-xyz");
}

TEST_F(Resolve, WatchedDirectoriesFromTheDocumentMap)
{
    const std::string root = m_dir / "docs", server = m_dir / "srv";
    docMap("/icons/", "icons\\small");      // below the absolute document root
    docMap("/cgi-bin/", "C:\\Server\\cgi"); // a drive path is absolute
    docMap("/abs/", "/var/www/abs/../other");
    EXPECT_EQ(watched(), (std::set<std::string>{"/var/www/other", "C:/Server/cgi", root,
                                                root + "/icons/small"}));
    // A relative document root goes below the server root, and so do the
    // values below it; without a server root they stand as they are.
    docMap("/", "htdocs");
    EXPECT_EQ(watched(),
              (std::set<std::string>{"/var/www/other", "C:/Server/cgi", server + "/htdocs",
                                     server + "/htdocs/icons/small"}));
    ASSERT_TRUE(m_server->deleteValue("ServerRoot"));
    EXPECT_EQ(watched(),
              (std::set<std::string>{"/var/www/other", "C:/Server/cgi", "htdocs", "icons/small"}));
}

TEST_F(Resolve, PagesTheServerCannotSendAreBrokenAndSayWhy)
{
    std::filesystem::create_directories(m_dir / "docs");
    ASSERT_EQ(::mkfifo((m_dir / "docs/pipe.html").c_str(), 0644), 0);
    std::filesystem::create_directories(m_dir / "docs/folder.html");
    std::filesystem::create_symlink("/dev/null", m_dir / "docs/device.html");
    doc("locked.html");
    ::chmod((m_dir / "docs/locked.html").c_str(), 0);
    doc("fine.html");
    const bool root = ::geteuid() == 0; // reads anything
    const std::pair<const char *, const char *> cases[] = {
        {"pipe.html", "it is a named pipe"},
        {"folder.html", "it is a directory"},
        {"device.html", "it is a device"},
        {"locked.html", root ? "" : "it cannot be read (Permission denied)"},
        {"fine.html", ""},
    };
    for (const auto &[file, why] : cases) { // why: "" when the page is fine
        SiteNode *n = node(std::string("http://localhost/") + file);
        Refresh(n); // never blocks on the pipe
        const std::string note = "The server cannot send " + n->localPath.str() + ": " + why;
        EXPECT_EQ(n->flags & BROKEN ? NoteOf(n) : "", *why ? note : "") << file;
    }

    SiteNode *pipe = m_nodes[0];
    ParseDocument(pipe); // directly, it must not block either
    EXPECT_EQ(pipe->firstChild(), nullptr);

    // Once the file is a page again, the node is whole and the note goes.
    std::filesystem::remove(m_dir / "docs/pipe.html");
    doc("pipe.html");
    ResolveNode(pipe);
    EXPECT_TRUE(!(pipe->flags & BROKEN) && !pipe->diagnostics);
}

// A store wiped under a running program must not pass for an empty one.
TEST_F(Resolve, AStoreDamagedAfterItWasOpenedIsAFailureNotAnEmptyAnswer)
{
    ASSERT_EQ(CurrentServerSettings().serverName, "www.example.org");
    EXPECT_EQ(ConfigReadFailure(), "");
    // Another process changes the store, so that what was read is read
    // again, and then the file is wiped under both.
    ASSERT_TRUE(
        WriteString(*OpenSqliteStore(m_dir / "registry.db")->root()->openKey(kServerKeyPath),
                    "ServerName", "localhost"));
    for (const char *suffix : {"", "-wal"}) {
        const std::string path = m_dir / ("registry.db" + std::string(suffix));
        const auto size = std::filesystem::file_size(path);
        std::ofstream(path, std::ios::binary | std::ios::in) << std::string(size, '\0');
    }
    EXPECT_FALSE(CurrentServerSettings().serverName);
    EXPECT_NE(ConfigReadFailure(), "") << "the empty answer stands as the store's";
}

// "OutBound" 0 turns the checking of external links off.
TEST(OpenConfiguration, OutBoundOffStopsExternalChecks)
{
    TempDir dir;
    auto store = OpenSqliteStore(dir / "both.db");
    store->root()->createKey(kServerKeyPath);
    WriteDword(*store->root()->createKey(kProgramKeyPath), "OutBound", 0);
    UseStores(std::move(store));
    verifyExternal = true;
    EXPECT_EQ(OpenConfiguration(nullptr), OpenConfigResult::Ok);
    EXPECT_FALSE(verifyExternal);
    CloseConfiguration();
}
