// sylvix-map run as a user runs it: a real process on a real store.

#include "model/Config.h"
#include "platform/ConfigStore.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

using namespace sylvix;

namespace {

struct ToolRun
{
    int status = -1;
    std::string out;
};

ToolRun run(const std::string &args, const std::string &store)
{
    std::string cmd = "NORVANE_REGISTRY='" + store + "' " SYLVIX_MAP_PATH " " + args + " 2>&1";
    ToolRun r;
    FILE *p = ::popen(cmd.c_str(), "r");
    if (!p)
        return r;
    std::array<char, 65536> buf;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0)
        r.out.append(buf.data(), n);
    int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

class MapTool : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string templ = (std::filesystem::temp_directory_path() / "sylvix-map-XXXXXX").string();
        m_dir = ::mkdtemp(templ.data());
        m_store = m_dir + "/registry.db";
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    void configure(bool programKey = true)
    {
        auto store = OpenSqliteStore(m_store);
        ASSERT_TRUE(store);
        auto server = store->root()->createKey(kServerKeyPath);
        WriteString(*server, "ServerName", "localhost");
        WriteDword(*server, "TCP Port", 80);
        WriteString(*server->createKey("DocMap"), "/", m_dir + "/site");
        auto types = server->createKey("TypeMap");
        WriteString(*types, ".html", "text/html");
        WriteString(*types, ".gif", "image/gif");
        WriteString(*server->createKey("DirIndex"), "IndexDoc", "index.html");
        if (programKey)
            WriteDword(*store->root()->createKey(kProgramKeyPath), "OutBound", 0);
    }

    void page(const std::string &rel, const std::string &html)
    {
        std::filesystem::path p = m_dir + "/site/" + rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p) << html;
    }

    // A site of a few hundred pages linking each other at random.
    void randomSite(int pages, unsigned seed)
    {
        std::mt19937 rng(seed);
        auto name = [](int i) {
            return i == 0 ? std::string("index.html")
                          : "s" + std::to_string(i % 7) + "/p" + std::to_string(i) + ".html";
        };
        for (int i = 0; i < pages; ++i) {
            std::string body = "<html><head><title>P" + std::to_string(i) + "</title></head><body>";
            for (int k = 0; k < 12; ++k) {
                int t = static_cast<int>(rng() % pages);
                body += "<a href=\"/" + name(t) + "\">to " + std::to_string(t) + "</a> ";
                if (rng() % 10 == 0)
                    body += "<img src=\"/img/i" + std::to_string(rng() % 4) + ".gif\" alt=\"pic\">";
                if (rng() % 40 == 0)
                    body += "<a href=\"/gone" + std::to_string(rng() % 3) + ".html\">dead</a>";
            }
            body += "</body></html>";
            page(name(i), body);
        }
        for (int i = 0; i < 3; ++i)
            page("img/i" + std::to_string(i) + ".gif", "GIF89a");
    }

    std::string m_dir, m_store;
};

} // namespace

TEST_F(MapTool, ExitStatusTellsBrokenLinksAndErrors)
{
    configure();
    page("index.html", "<a href=\"a.html\">a</a>");
    page("a.html", "<p>fine</p>");
    ToolRun ok = run("--whole", m_store);
    EXPECT_EQ(ok.status, 0) << ok.out;
    EXPECT_NE(ok.out.find("http://localhost/a.html  [HTML ------]  " + m_dir + "/site/a.html"),
              std::string::npos)
        << ok.out;

    page("a.html", "<img src=\"missing.gif\">");
    ToolRun broken = run("--whole --broken", m_store);
    EXPECT_EQ(broken.status, 1) << broken.out;
    EXPECT_NE(broken.out.find("http://localhost/missing.gif  <- http://localhost/a.html"),
              std::string::npos)
        << broken.out;

    EXPECT_EQ(run("--format xml", m_store).status, 2);
    EXPECT_EQ(run("--depth", m_store).status, 2);
    EXPECT_EQ(run("-r", m_store).status, 2);
    ToolRun bad = run("not-a-url.html", m_store);
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.out.find("Can't interpret URL\n'not-a-url.html'"), std::string::npos) << bad.out;
    ToolRun missing = run("http://localhost/missing.html", m_store);
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.out.find("Can't interpret URL\n'http://localhost/missing.html'"),
              std::string::npos)
        << missing.out;
    ToolRun remote = run("-r otherbox", m_store);
    EXPECT_EQ(remote.status, 2);
    EXPECT_NE(remote.out.find("Error connecting to remote server registry"), std::string::npos);
}

TEST_F(MapTool, MissingProgramKeyIsFatal)
{
    configure(false);
    ToolRun r = run("", m_store);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("The Norvane server must be installed to create a Web window"),
              std::string::npos)
        << r.out;
}

TEST_F(MapTool, OutputIsTheSameWithAnyNumberOfJobsAndWithTheLiteralDesign)
{
    configure();
    randomSite(300, 11);
    for (const char *format : {"tree", "csv"}) {
        ToolRun one = run(std::string("--whole -q --jobs 1 --format ") + format, m_store);
        ToolRun four = run(std::string("--whole -q --jobs 4 --format ") + format, m_store);
        ToolRun literal
            = run(std::string("--whole -q --jobs 1 --literal --format ") + format, m_store);
        EXPECT_EQ(one.status, 1); // the random site has dead links
        EXPECT_GT(one.out.size(), 10000u);
        EXPECT_EQ(one.out, four.out) << format;
        EXPECT_EQ(one.out, literal.out) << format;
    }
    ToolRun json = run("--whole -q --format json", m_store);
    ASSERT_GT(json.out.size(), 2u);
    EXPECT_EQ(json.out.front(), '[');
}
