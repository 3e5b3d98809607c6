#include "ModelFixture.h"

#include "model/Url.h"

using namespace sylvix;
using namespace sylvix::test;

namespace {
class Config : public ServerFixture
{};
} // namespace

TEST_F(Config, ProgramMapsTakeTheLongestPrefixOverAllThree)
{
    set("ConsExeMap", "/cgi-dos/", "/progs/dos");
    set("ShellExeMap", "/cgi-bin/", "/progs/sh");
    set("WinExeMap", "/cgi-bin/win/", "/progs/win");
    set("WinExeMap", "/CGI-BIN/", "/progs/late"); // equal length: the first met wins
    std::string out;
    size_t best = 0;
    EXPECT_FALSE(LookupExeMap("ConsExeMap", "/cgi-bin/win/x/", out, best));
    EXPECT_TRUE(LookupExeMap("ShellExeMap", "/cgi-bin/win/x/", out, best));
    EXPECT_EQ(out, "/progs/sh");
    EXPECT_TRUE(LookupExeMap("WinExeMap", "/cgi-bin/win/x/", out, best));
    EXPECT_EQ(out, "/progs/win");
    EXPECT_EQ(best, 13u);
    out.clear();
    best = 0;
    LookupExeMap("ShellExeMap", "/Cgi-Bin/", out, best);
    LookupExeMap("WinExeMap", "/Cgi-Bin/", out, best);
    EXPECT_EQ(out, "/progs/sh");
    EXPECT_FALSE(LookupExeMap("NoSuchMap", "/cgi-bin/", out, best));
}

TEST_F(Config, TypesAndExtensions)
{
    EXPECT_EQ(TypeForFile("index.HTML"), "text/html");
    EXPECT_EQ(TypeForFile("/a/b.c/noext"), "application/octet-stream");
    EXPECT_EQ(TypeForFile(nullptr), "text/html");
    EXPECT_EQ(TypeForFile("x.unknown"), "application/octet-stream");
    typeMap("", "text/plain");
    EXPECT_EQ(TypeForFile("README"), "text/plain");
    EXPECT_EQ(ExtensionForType("TEXT/HTML"), ".html"); // the first in store order
    EXPECT_EQ(ExtensionForType("image/gif"), ".gif");
    EXPECT_EQ(ExtensionForType("text/plain"), ".txt");
    EXPECT_EQ(ExtensionForType("application/x-none"), "");
}

TEST_F(Config, RootFromServerAndRedirectLookup)
{
    SiteNode *root = CreateNode();
    InitRootFromServer(root);
    EXPECT_EQ(root->url.str(), "http://www.example.org/");
    EXPECT_EQ(root->href.str(), root->url.str());
    m_server->deleteValue("ServerName");
    m_server->deleteValue("TCP Port");
    SiteNode *bare = CreateNode();
    InitRootFromServer(bare);
    EXPECT_EQ(bare->host.str(), "localhost");
    EXPECT_EQ(bare->port, 0);
    FreeNode(bare);

    set("RedirMap", "/a/x.html", "/target-a.html");
    set("RedirMap", "/b/", "/target-b/");
    auto lookup = [&](const char *href) {
        SiteNode *n = CreateNode();
        SetUrl(n, href, root);
        auto r = LookupRedirect(n);
        FreeNode(n);
        return r.value_or("<none>");
    };
    EXPECT_EQ(lookup("/a/x.html"), "/target-a.html");
    EXPECT_EQ(lookup("/A/X.HTML"), "/target-a.html");
    EXPECT_EQ(lookup("http://other.host:99/a/x.html"),
              "/target-a.html"); // host and port not compared
    EXPECT_EQ(lookup("/b/"), "/target-b/");
    EXPECT_EQ(lookup("/b/x.html"), "<none>");
    EXPECT_EQ(lookup("/a/"), "<none>");
    FreeNode(root);
}

TEST_F(Config, ChangesByAnotherConnectionAreSeenAtTheNextLookup)
{
    EXPECT_EQ(TypeForFile("a.xyz"), "application/octet-stream");
    {
        auto other = OpenSqliteStore(m_dir / "registry.db");
        ASSERT_TRUE(other);
        auto key = other->root()->openKey(std::string(kServerKeyPath) + "\\TypeMap");
        ASSERT_TRUE(key);
        WriteString(*key, ".xyz", "text/x-xyz");
    }
    EXPECT_EQ(TypeForFile("a.xyz"), "text/x-xyz");
    uint64_t reloads = ConfigStats().reloads;
    for (int i = 0; i < 100; ++i)
        TypeForFile("b.html");
    EXPECT_EQ(ConfigStats().reloads, reloads); // nothing changed: nothing read again
}

TEST(OpenConfiguration, ResultCodes)
{
    test::TempDir dir;
    {
        UseStores(OpenSqliteStore(dir / "empty.db"));
        EXPECT_EQ(OpenConfiguration(nullptr),
                  OpenConfigResult::Ok); // no server: every lookup falls back
        EXPECT_FALSE(ServerKey);
        EXPECT_EQ(TypeForFile("a.html"), "application/octet-stream");
        CloseConfiguration();
    }
    {
        auto store = OpenSqliteStore(dir / "server-only.db");
        store->root()->createKey(kServerKeyPath);
        UseStores(std::move(store));
        EXPECT_EQ(OpenConfiguration(nullptr), OpenConfigResult::NoProgramKey);
        CloseConfiguration();
    }
    {
        auto store = OpenSqliteStore(dir / "both.db");
        store->root()->createKey(kServerKeyPath);
        auto program = store->root()->createKey(kProgramKeyPath);
        WriteDword(*program, "OutBound", 0);
        program.reset();
        UseStores(std::move(store));
        verifyExternal = true;
        EXPECT_EQ(OpenConfiguration(nullptr), OpenConfigResult::Ok);
        EXPECT_FALSE(verifyExternal);
        EXPECT_EQ(OpenConfiguration("far-away-machine"), OpenConfigResult::NoRemote);
        CloseConfiguration();
    }
}
