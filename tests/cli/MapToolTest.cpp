// sylvix-map run as a user runs it: a real process on a real store.

#include "model/Config.h"
#include "platform/ConfigStore.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>

using namespace sylvix;

namespace {

using test::ToolRun;

// sylvix-map on the store with args split at blanks; out is what it wrote
// to both streams.
test::ToolRun run(const std::string &args, const std::string &store)
{
    std::vector<std::string> words;
    std::istringstream in(args);
    for (std::string word; in >> word;)
        words.push_back(word);
    test::ToolRun r = test::runTool(SYLVIX_MAP_PATH, words, {{"NORVANE_REGISTRY", store}});
    r.out += r.err;
    return r;
}

class MapTool : public ::testing::Test
{
protected:
    // extra adds to the server key before the store closes.
    void configure(bool programKey = true,
                   const std::function<void(ConfigKey &server)> &extra = nullptr)
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
        if (extra)
            extra(*server);
    }

    void page(const std::string &rel, const std::string &html) { m_tmp.write("site/" + rel, html); }

    // A site of a few hundred pages linking each other at random.
    void randomSite(int pages, unsigned seed, const std::string &moreOnIndex = "")
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
            if (i == 0)
                body += moreOnIndex;
            body += "</body></html>";
            page(name(i), body);
        }
        for (int i = 0; i < 3; ++i)
            page("img/i" + std::to_string(i) + ".gif", "GIF89a");
    }

    test::TempDir m_tmp;
    const std::string m_dir = m_tmp.path(), m_store = m_tmp / "registry.db";
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
    EXPECT_EQ(broken.out, m_dir + "/site/a.html:1: http://localhost/missing.gif (no such file)\n");

    EXPECT_EQ(run("--format xml", m_store).status, 2); // the reasons: MapOptions
    ToolRun bad = run("not-a-url.html", m_store);
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.out.find("Can't interpret URL\n'not-a-url.html'"), std::string::npos) << bad.out;
    // A root that resolves but is broken is mapped, like any broken link.
    ToolRun missing = run("--broken http://localhost/missing.html", m_store);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out,
              "http://localhost/missing.html: http://localhost/missing.html (no such file)\n");
    ToolRun remote = run("-r otherbox", m_store);
    EXPECT_EQ(remote.status, 2);
    EXPECT_NE(remote.out.find("Error connecting to remote server registry"), std::string::npos);
    // A mistyped store is an error, not a new empty store.
    const std::string typo = m_dir + "/registy.db";
    ToolRun noStore = run("--store " + typo, m_store);
    EXPECT_EQ(noStore.status, 2) << noStore.out;
    EXPECT_FALSE(std::filesystem::exists(typo));
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
    configure(true, [](ConfigKey &server) {
        WriteString(*server.createKey("RedirMap"), "/moved.html", "/s2/p9.html");
        auto nav = server.createKey("ImageMaps\\nav");
        WriteString(*nav, "1", "rect /s3/p10.html 0,0 9,9");
        WriteString(*nav, "2", "rect /gone-area.html 0,0 9,9");
    });
    randomSite(300, 11, "<a href=\"/~imagemap/nav\">nav</a><a href=\"/moved.html\">m</a>");
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

TEST_F(MapTool, EveryBrokenLinkOfLongChainsIsReportedWithItsLine)
{
    // Chains far deeper than any fixed limit; a page also linked near the
    // root must still have its own links examined there.
    configure();
    const int pages = 1200;
    std::vector<std::string> planted;
    std::string index = "<html><body>\n<a href=\"/c0.html\">start</a>\n"
                        "<a href=\"/c700.html\">shortcut</a>\n<a href=\"/c0.html\">again</a>\n";
    page("index.html", index + "</body></html>");
    for (int i = 0; i < pages; ++i) {
        std::string body
            = "<html><body>\n<a href=\"/c" + std::to_string(i + 1) + ".html\">next</a>";
        if (i % 50 == 7) {
            body += "\n<p>text</p>\n<a href=\"/gone/c" + std::to_string(i) + ".html\">dead</a>";
            planted.push_back(m_dir + "/site/c" + std::to_string(i)
                              + ".html:4: http://localhost/gone/c" + std::to_string(i)
                              + ".html (no such file)");
        }
        body += "\n<a href=\"/\">home</a></body></html>";
        page("c" + std::to_string(i) + ".html", body);
    }
    // The last page links one that does not exist.
    planted.push_back(m_dir + "/site/c" + std::to_string(pages - 1) + ".html:2: http://localhost/c"
                      + std::to_string(pages) + ".html (no such file)");
    std::sort(planted.begin(), planted.end());

    ToolRun one = run("--whole --broken -q --jobs 1", m_store);
    ToolRun three = run("--whole --broken -q --jobs 3", m_store);
    EXPECT_EQ(one.status, 1);
    EXPECT_EQ(one.out, three.out);
    std::vector<std::string> lines;
    std::istringstream in(one.out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, planted);

    // The tree is as deep as the chain, each page expanded once.
    ToolRun summary = run("--whole -q --format summary", m_store);
    EXPECT_NE(summary.out.find("documents parsed: " + std::to_string(pages + 1) + "\n"),
              std::string::npos)
        << summary.out;
}

TEST_F(MapTool, BrokenLinksSayWhy)
{
    configure(true, [](ConfigKey &server) {
        auto redirects = server.createKey("RedirMap");
        WriteString(*redirects, "/loop1.html", "/loop2.html");
        WriteString(*redirects, "/loop2.html", "/loop1.html");
        auto nav = server.createKey("ImageMaps\\nav");
        WriteString(*nav, "1", "rect /ok.html 0,0 9,9");
        WriteString(*nav, "2", "rect /gone-area.html 0,0 9,9");
    });
    page("index.html", "<a href=\"/~imagemap/nav\">nav</a>\n<a href=\"/loop1.html\">loop</a>\n"
                       "<a href=\"/empty/\">dir</a>\n<a href=\"/~imagemap/none\">no map</a>");
    page("ok.html", "fine");
    std::filesystem::create_directories(m_dir + "/site/empty");
    ToolRun r = run("--whole --broken", m_store);
    EXPECT_EQ(r.status, 1);
    const std::string index = m_dir + "/site/index.html";
    EXPECT_EQ(r.out, "http://localhost/~imagemap/nav: http://localhost/gone-area.html (no such "
                     "file)\n"
                         + index + ":2: http://localhost/loop1.html (redirect loop)\n" + index
                         + ":3: http://localhost/empty/ (no index document)\n" + index
                         + ":4: http://localhost/~imagemap/none (no such image map)\n");
}

TEST_F(MapTool, ReadsStayInsideTheServedDirectories)
{
    // A named pipe outside the site: a stat would make it a served file, and
    // it has a title only a read could show.
    configure(true, [this](ConfigKey &server) {
        WriteString(*server.createKey("RedirMap"), "/go.html", "/..\\..\\outside.html");
        WriteString(*server.createKey("DocMap"), "/cgi/", m_dir + "/site/cgi");
    });
    ASSERT_EQ(::mkfifo((m_dir + "/outside.html").c_str(), 0644), 0);
    page("../elsewhere/shared.html", "<title>Shared page</title>");
    std::filesystem::create_directory_symlink(m_dir + "/elsewhere", m_dir + "/site/shared");
    struct Case
    {
        const char *href, *why;
    };
    const Case cases[] = {
        {"..\\outside.html", "outside the site"},
        {"/%2e%2e/outside.html", "no such file"}, // a name of its own inside the site
        {"/go.html", "outside the site"},
        {"/cgi/..\\..\\..\\outside.html", "outside the site"},
        {"/~icons/..\\..\\..\\outside.html", "outside the site"},
    };
    std::string index;
    for (const Case &c : cases)
        index += std::string("<a href=\"") + c.href + "\">x</a>\n";
    page("index.html", index + "<a href=\"/shared/shared.html\">in</a>\n");
    ToolRun broken = run("--whole --broken -q", m_store);
    EXPECT_EQ(broken.status, 1);
    std::istringstream in(broken.out);
    size_t n = 0;
    for (std::string line; std::getline(in, line); ++n) {
        ASSERT_LT(n, std::size(cases)) << broken.out;
        EXPECT_EQ(line.rfind(m_dir + "/site/index.html:" + std::to_string(n + 1) + ": ", 0), 0u)
            << line;
        EXPECT_EQ(line.substr(line.rfind(" (")), std::string(" (") + cases[n].why + ")") << line;
    }
    EXPECT_EQ(n, std::size(cases)) << broken.out;
    EXPECT_EQ(broken.out.find("shared.html"), std::string::npos) << broken.out;
    ToolRun titles = run("--whole -q --show title", m_store);
    EXPECT_NE(titles.out.find("Shared page  [HTML ------]"), std::string::npos) << titles.out;
}

TEST_F(MapTool, OutputCannotBeForged)
{
    // The parser cleans what it reads; file names and header values come
    // raw, so the document root itself carries a bad byte and an escape.
    const std::string root = m_dir + "/si\xffte\x1b[31m";
    configure(true,
              [&](ConfigKey &server) { WriteString(*server.createKey("DocMap"), "/", root); });
    std::filesystem::create_directories(root);
    std::ofstream(root + "/index.html")
        << "<title>evil&#10;  forged  [HTML ------]</title><a href=\"a\x01\r.html\">x</a>";
    ToolRun tree = run("--whole -q --show title", m_store);
    ToolRun broken = run("--whole -q --broken", m_store);
    ToolRun csv = run("--whole -q --format csv", m_store);
    for (const ToolRun *r : {&tree, &broken, &csv}) {
        EXPECT_EQ(std::count(r->out.begin(), r->out.end(), '\n'), r == &broken ? 1
                                                                  : r == &csv  ? 3
                                                                               : 2)
            << r->out;
        for (unsigned char c : r->out)
            EXPECT_TRUE(c >= 0x20 || c == '\n') << static_cast<int>(c) << " in " << r->out;
    }
    EXPECT_NE(tree.out.find("evil\\x0a  forged  [HTML ------]  [HTML ------]  " + m_dir
                            + "/si\\xffte\\x1b[31m/index.html\n"),
              std::string::npos)
        << tree.out;

    // JSON decodes as strict UTF-8, a bad byte as U+FFFD.
    const std::string json = m_tmp.write("map.json", run("--whole -q --format json", m_store).out);
    ToolRun decoded = test::runTool(
        "/usr/bin/python3", {"-c",
                             "import json,sys; d=json.loads(open(sys.argv[1], encoding='utf-8', "
                             "errors='strict').read()); print(repr(d[0]['file']), "
                             "repr(d[0]['children'][0]['url']))",
                             json});
    EXPECT_EQ(decoded.out,
              "'" + m_dir + "/si\xef\xbf\xbdte\\x1b[31m/index.html' 'http://localhost/a\\x01'\n");
}

TEST_F(MapTool, SarifOutputFollowsTheSchema)
{
    configure();
    page("index.html", "<p>\n<a href=\"gone.html\">x</a>\n<img src=\"gone.gif\">");
    const std::string sarif
        = m_tmp.write("map.sarif", run("--whole -q --format sarif", m_store).out);
    ToolRun r = test::runTool("/usr/bin/python3",
                              {SYLVIX_SOURCE_DIR "/tests/cli/check-sarif.py",
                               SYLVIX_SOURCE_DIR "/tests/cli/sarif-2.1.0.schema.json", sarif});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "file://" + m_dir
                         + "/site/index.html:2 http://localhost/gone.html (no such "
                           "file)\nfile://"
                         + m_dir + "/site/index.html:3 http://localhost/gone.gif (no such file)\n");
}

TEST_F(MapTool, LinksOnlyModeGivesTheSameTreeWithoutMessages)
{
    configure();
    randomSite(120, 5, "<p><b>bad <i>nesting</b></i><font color=red>old</font>");
    ToolRun full = run("--whole -q", m_store);
    ToolRun links = run("--whole -q --no-diagnostics", m_store);
    EXPECT_EQ(full.out, links.out);
    ToolRun fullJson = run("--whole -q --format json", m_store);
    ToolRun linksJson = run("--whole -q --format json --no-diagnostics", m_store);
    EXPECT_NE(fullJson.out.find("\"messages\":"), std::string::npos);
    EXPECT_EQ(linksJson.out.find("\"messages\":"), std::string::npos);
    EXPECT_NE(run("--whole -q --format summary --no-diagnostics", m_store)
                  .out.find("mode: links only (no markup check)\n"),
              std::string::npos);
}
