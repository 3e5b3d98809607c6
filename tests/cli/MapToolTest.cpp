// sylvix-map run as a user runs it: a real process on a real store and a
// site built at test time. A deadline turns a hang into a failure.

#include "model/Config.h"
#include "platform/ConfigStore.h"
#include "tests/support/RunTool.h"
#include "tests/support/SameLines.h"
#include "tests/support/ScriptServer.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>

using namespace sylvix;

namespace {

namespace fs = std::filesystem;
using test::ToolRun;

// Long enough for a sanitizer build on a slow machine; a hang is far longer.
constexpr int kDeadlineSeconds = 300;

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class MapTool : public ::testing::Test
{
protected:
    // The store: a server on port that serves the site; extra adds to its key.
    void configure(const std::function<void(ConfigKey &server)> &extra = nullptr, int port = 80)
    {
        auto store = OpenSqliteStore(m_store);
        ASSERT_TRUE(store);
        auto server = store->root()->createKey(kServerKeyPath);
        WriteString(*server, "ServerName", "localhost");
        WriteDword(*server, "TCP Port", static_cast<uint32_t>(port));
        WriteString(*server->createKey("DocMap"), "/", m_site);
        auto types = server->createKey("TypeMap");
        WriteString(*types, ".html", "text/html");
        WriteString(*types, ".gif", "image/gif");
        WriteString(*server->createKey("DirIndex"), "IndexDoc", "index.html");
        WriteDword(*store->root()->createKey(kProgramKeyPath), "OutBound", 0);
        if (extra)
            extra(*server);
    }

    std::string page(const std::string &rel, const std::string &html)
    {
        return m_tmp.write("site/" + rel, html);
    }

    // sylvix-map with args split at blanks; out holds both streams.
    ToolRun run(const std::string &args, std::vector<std::pair<std::string, std::string>> env = {})
    {
        std::vector<std::string> words;
        std::istringstream in(args);
        for (std::string word; in >> word;)
            words.push_back(word);
        env.emplace_back("NORVANE_REGISTRY", m_store);
        ToolRun r = test::runTool(SYLVIX_MAP_PATH, words, env, {}, kDeadlineSeconds);
        EXPECT_TRUE(r.finished) << "sylvix-map " << args << " did not finish in time";
        r.out += r.err;
        return r;
    }

    test::TempDir m_tmp;
    const std::string m_dir = m_tmp.path(), m_site = m_dir + "/site";
    const std::string m_store = m_tmp / "registry.db";
};

} // namespace

TEST_F(MapTool, ExitStatusErrorsAndOutputThatCannotBeForged)
{
    // The parser cleans what it reads; file names and header values come
    // raw, so a document root carries a bad byte and an escape.
    const std::string evil = m_dir + "/si\xffte\x1b[31m";
    configure([&](ConfigKey &server) { WriteString(*server.openKey("DocMap"), "/evil/", evil); });
    page("index.html", "<a href=\"a.html\">a</a>");
    page("a.html", "<p>fine</p>");
    ToolRun ok = run("--whole");
    EXPECT_EQ(ok.status, 0) << ok.out;

    page("a.html", "<p>\n<img src=\"missing.gif\">\n<a href=\"gone.html\">x</a>");
    ToolRun broken = run("--whole --broken");
    EXPECT_EQ(broken.status, 1) << broken.out;
    EXPECT_EQ(broken.out, m_site + "/a.html:2: http://localhost/missing.gif (no such file)\n"
                              + m_site + "/a.html:3: http://localhost/gone.html (no such file)\n");
    const std::string sarif = m_tmp.write("map.sarif", run("--whole -q --format sarif").out);
    ToolRun valid = test::runTool("/usr/bin/python3",
                                  {SYLVIX_SOURCE_DIR "/tests/cli/check-sarif.py",
                                   SYLVIX_SOURCE_DIR "/tests/cli/sarif-2.1.0.schema.json", sarif});
    EXPECT_EQ(valid.status, 0) << valid.err;
    EXPECT_EQ(valid.out, "file://" + m_site
                             + "/a.html:2 http://localhost/missing.gif (no such file)\n" + "file://"
                             + m_site + "/a.html:3 http://localhost/gone.html (no such file)\n");

    const std::string typo = m_dir + "/registy.db";
    const auto expectError = [this](const std::string &args, const std::string &says) {
        const ToolRun r = run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.out.find(says), std::string::npos) << r.out;
    };
    expectError("not-a-url.html", "Can't interpret URL\n'not-a-url.html'");
    expectError("-r otherbox", "Error connecting to remote server registry");
    expectError("--store " + typo, "no such file");
    EXPECT_FALSE(fs::exists(typo)) << "a mistyped store is an error, not a new empty store";

    fs::create_directories(evil);
    std::ofstream(evil + "/index.html")
        << "<title>evil&#10;  forged  [HTML ------]</title><a href=\"a\x01\r.html\">x</a>";
    page("index.html", "<a href=\"/evil/index.html\">e</a>");
    ToolRun tree = run("--whole -q --show title");
    ToolRun brokenOnly = run("--whole -q --broken");
    ToolRun csv = run("--whole -q --format csv");
    for (const ToolRun *r : {&tree, &brokenOnly, &csv}) {
        const size_t lines = r == &brokenOnly ? 1 : r == &csv ? 4 : 3;
        EXPECT_EQ(std::count(r->out.begin(), r->out.end(), '\n'), lines) << r->out;
        for (unsigned char c : r->out)
            EXPECT_TRUE(c >= 0x20 || c == '\n') << static_cast<int>(c) << " in " << r->out;
    }
    EXPECT_NE(tree.out.find("evil\\x0a  forged  [HTML ------]  [HTML ------]  " + m_dir
                            + "/si\\xffte\\x1b[31m/index.html\n"),
              std::string::npos)
        << tree.out;
    // In JSON a bad byte is U+FFFD and a control a \u escape, in every field.
    const std::string json = run("--whole -q --format json").out;
    EXPECT_NE(json.find("/si\\ufffdte\\u001b[31m/index.html\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"http://localhost/evil/a\\u0001\""), std::string::npos) << json;
    // ... and the whole document reads as strict UTF-8 JSON.
    const ToolRun decoded = test::runTool(
        "/usr/bin/python3", {"-c",
                             "import json,sys; json.load(open(sys.argv[1], encoding='utf-8', "
                             "errors='strict'))",
                             m_tmp.write("map.json", json)});
    EXPECT_EQ(decoded.status, 0) << decoded.err;

    ASSERT_TRUE(OpenSqliteStore(m_store)->root()->deleteTree(kProgramKeyPath));
    expectError("", "The Norvane server must be installed to create a Web window");
}

// External links through the tool: the option reaches the walk, which
// fetches, marks and parses them (the HTTP rules are checked in tests/model).
TEST_F(MapTool, ExternalLinksAreCheckedMarkedAndParsed)
{
    test::ScriptServer far;
    far.push({{"HTTP/1.0 404 Not Found\r\n\r\n"}});
    far.setDefault({{"HTTP/1.0 200 OK\r\nContent-type: text/html\r\n\r\n<title>Far</title>"}});
    const std::string gone = far.base() + "/gone.html", good = far.base() + "/good.html";
    const std::string index
        = page("index.html", "<a href=\"" + gone + "\">g</a>\n<a href=\"" + good + "\">f</a>");
    configure();
    fs::create_directories(m_dir + "/tmp");
    const std::vector<std::pair<std::string, std::string>> env = {{"TMPDIR", m_dir + "/tmp"}};
    const ToolRun broken = run("--jobs 1 --check-external --broken", env);
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.out, index + ":1: " + gone + " (HTTP 404 Not Found)\n");
    const ToolRun titles = run("--jobs 1 --check-external --show title", env);
    EXPECT_NE(titles.out.find("\n  Far  [HTML E-----]  " + m_dir + "/tmp/"), std::string::npos)
        << titles.out;
    // The fetched documents' temporary files are gone when the tool ends.
    EXPECT_TRUE(fs::is_empty(m_dir + "/tmp"));
}

TEST_F(MapTool, EveryBrokenLinkIsFoundAndSaysWhyWithAnyNumberOfJobs)
{
    configure([](ConfigKey &server) {
        auto redirects = server.createKey("RedirMap");
        WriteString(*redirects, "/moved.html", "/c9.html");
        WriteString(*redirects, "/loop1.html", "/loop2.html");
        WriteString(*redirects, "/loop2.html", "/loop1.html");
        auto nav = server.createKey("ImageMaps\\nav");
        WriteString(*nav, "1", "rect /c10.html 0,0 9,9");
        WriteString(*nav, "2", "rect /gone-area.html 0,0 9,9");
    });
    // A chain far deeper than any fixed limit, with links across it; a page
    // also linked near the root must still have its own links examined there.
    const std::string index = page(
        "index.html", "<html><body><a href=\"/c0.html\">start</a> <a href=\"/c700.html\">cut</a>\n"
                      "<a href=\"/loop1.html\">loop</a>\n<a href=\"/empty/\">dir</a>\n"
                      "<a href=\"/~imagemap/none\">no map</a>\n<a href=\"/~imagemap/nav\">nav</a>"
                      "<a href=\"/moved.html\">m</a><p><b>bad <i>nesting</b></i></body></html>");
    fs::create_directories(m_site + "/empty");
    page("i.gif", "GIF89a");
    std::vector<std::string> planted = {
        index + ":2: http://localhost/loop1.html (redirect loop)",
        index + ":3: http://localhost/empty/ (no index document)",
        index + ":4: http://localhost/~imagemap/none (no such image map)",
        "http://localhost/~imagemap/nav: http://localhost/gone-area.html (no such file)",
    };
    const int pages = 1200;
    std::mt19937 rng(11);
    for (int i = 0; i < pages; ++i) {
        const std::string n = std::to_string(i);
        std::string body
            = "<html><body>\n<a href=\"/c" + std::to_string(i + 1) + ".html\">next</a>";
        if (i % 50 == 7) {
            // With markup the checker cannot get past, on parsing threads too.
            body += "\n<p>text</p><tr><dl></table>\n<a href=\"/gone/c" + n + ".html\">dead</a>";
            planted.push_back(m_site + "/c" + n + ".html:4: http://localhost/gone/c" + n
                              + ".html (no such file)");
        }
        body += "\n<a href=\"/\">home</a> <a href=\"/c" + std::to_string(rng() % pages)
                + ".html\">any</a> <img src=\"/i.gif\" alt=\"\"></body></html>";
        page("c" + n + ".html", body);
    }
    // The last page links one that does not exist.
    planted.push_back(m_site + "/c" + std::to_string(pages - 1) + ".html:2: http://localhost/c"
                      + std::to_string(pages) + ".html (no such file)");
    std::sort(planted.begin(), planted.end());

    ToolRun one = run("--whole --broken -q --jobs 1");
    EXPECT_EQ(one.status, 1);
    EXPECT_TRUE(test::sameLines(run("--whole --broken -q --jobs 3").out, one.out));
    std::vector<std::string> lines = Lines(one.out);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, planted);

    // JSON carries every field and the markup messages made on the workers.
    const std::string json = run("--whole -q --jobs 1 --format json").out;
    EXPECT_NE(json.find("\"messages\":"), std::string::npos);
    EXPECT_TRUE(test::sameLines(run("--whole -q --jobs 4 --format json").out, json));
    EXPECT_EQ(run("--whole -q --format json --no-diagnostics").out.find("\"messages\":"),
              std::string::npos);
}

// A hostile site, mapped whole: directory loops, a huge page, a path longer
// than the platform allows, ways out of the served directories and a
// document map onto the file system's root. The map must finish and say why
// each link that cannot be served is broken.
TEST_F(MapTool, HostileSiteIsMappedInBoundsAndStaysInside)
{
    configure([this](ConfigKey &server) {
        auto docMap = server.openKey("DocMap");
        WriteString(*docMap, "/root", "/");
        WriteString(*docMap, "/cgi/", m_site + "/cgi");
        WriteString(*server.createKey("RedirMap"), "/go.html", "/..\\..\\outside.html");
        server.openKey("DirIndex")
            ->setValue("EnableIndexing", ValueType::Binary, std::string_view("\x01", 1));
    });
    // A directory that contains itself: ring/again/again/... is the same page
    // under ever longer URLs, until the system stops following the links.
    page("ring/index.html", "<a href=\"again/index.html\">deeper</a><a href=\"/index.html\">h</a>");
    fs::create_directory_symlink(".", m_site + "/ring/again");
    // 50 MB of text with a link at the very end: found only when all was read.
    std::string big = "<html><body>\n";
    while (big.size() < (50u << 20))
        big += "<p>" + std::string(1000, 'w') + "</p>\n";
    page("big.html", big + "<a href=\"big-end.html\">end</a></body></html>\n");
    // A symlink inside a served directory is followed, wherever it points.
    page("../elsewhere/shared.html", "<title>Shared</title>");
    fs::create_directory_symlink(m_dir + "/elsewhere", m_site + "/shared");
    m_tmp.write("outside.html", "<p>above the document root</p>");
    std::string longPath = "/";
    for (int i = 0; i < 2200; ++i)
        longPath += "d/";
    longPath += "x.html";

    // Each link, one a line, and why it is broken ("" when it is not).
    const std::vector<std::pair<std::string, std::string>> links = {
        {"ring/index.html", ""},
        {"big.html", ""},
        {"big-end.html", "no such file"},
        {"shared/shared.html", ""},
        {"../outside.html", "outside the site"},
        {"..\\outside.html", "outside the site"},
        {"/%2e%2e/outside.html", "no such file"}, // a name of its own inside the site
        {"/go.html", "outside the site"},
        {"/cgi/..\\..\\..\\outside.html", "outside the site"},
        {"/~icons/..\\..\\..\\outside.html", "outside the site"},
        {"/root/", ""}, // a listing of /, which is not walked into
        {longPath, "path too long"},
    };
    std::string text;
    std::map<int, std::string> expected, causes; // by line of the index
    for (size_t i = 0; i < links.size(); ++i) {
        text += "<a href=\"" + links[i].first + "\">x</a>\n";
        if (!links[i].second.empty())
            expected[static_cast<int>(i) + 1] = links[i].second;
    }
    const std::string index = page("index.html", text);
    const std::vector<std::string> lines = Lines(run("--whole -q --broken").out);
    for (const std::string &line : lines) {
        if (line.rfind(index + ":", 0) != 0)
            continue;
        const size_t why = line.rfind(" (") + 2; // "page:line: url (why)"
        causes[std::atoi(line.c_str() + index.size() + 1)]
            = line.substr(why, line.size() - why - 1);
    }
    EXPECT_EQ(causes, expected);
    EXPECT_LT(lines.size(), 100u);
}
