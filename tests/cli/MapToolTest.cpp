// sylvix-map run as a user runs it: a real process on a real store and a
// site built at test time. A deadline turns a hang into a failure.

#include "model/Config.h"
#include "platform/ConfigStore.h"
#include "tests/support/RunTool.h"
#include "tests/support/SameLines.h"
#include "tests/support/ScriptServer.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
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

// One node of the map's CSV output, by the columns of its header.
struct Row
{
    std::string kind, flags, url, href, file, title, why;
    bool broken() const { return flags.find("BROKEN") != std::string::npos; }
};

// The rows after the header. No field the tests write holds a comma or a
// quote, so a row splits at every comma.
std::vector<Row> ParseCsv(const std::string &text)
{
    std::vector<Row> rows;
    const std::vector<std::string> lines = Lines(text);
    for (size_t n = 1; n < lines.size(); ++n) {
        std::vector<std::string> f(1);
        for (char c : lines[n]) {
            if (c == ',')
                f.emplace_back();
            else
                f.back() += c;
        }
        EXPECT_EQ(f.size(), 14u) << lines[n].substr(0, 200);
        if (f.size() == 14)
            rows.push_back({f[1], f[2], f[3], f[4], f[5], f[6], f[12]});
    }
    return rows;
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
    EXPECT_NE(ok.out.find("http://localhost/a.html  [HTML ------]  " + m_site + "/a.html"),
              std::string::npos)
        << ok.out;

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

    // A root that resolves but is broken is mapped, like any broken link.
    ToolRun missing = run("--broken http://localhost/missing.html");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out,
              "http://localhost/missing.html: http://localhost/missing.html (no such file)\n");
    const std::string typo = m_dir + "/registy.db";
    const auto expectError = [this](const std::string &args, const std::string &says) {
        const ToolRun r = run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.out.find(says), std::string::npos) << r.out;
    };
    expectError("--format xml", "--format takes"); // the reasons: MapOptions
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
    // JSON decodes as strict UTF-8, a bad byte as U+FFFD.
    const std::string json = m_tmp.write("map.json", run("--whole -q --format json").out);
    ToolRun decoded = test::runTool(
        "/usr/bin/python3", {"-c",
                             "import json,sys; d=json.loads(open(sys.argv[1], encoding='utf-8', "
                             "errors='strict').read())[0]['children'][0]; print(repr(d['file']), "
                             "repr(d['children'][0]['url']))",
                             json});
    EXPECT_EQ(decoded.out,
              "'" + m_dir
                  + "/si\xef\xbf\xbdte\\x1b[31m/index.html' 'http://localhost/evil/a\\x01'\n");

    ASSERT_TRUE(OpenSqliteStore(m_store)->root()->deleteTree(kProgramKeyPath));
    expectError("", "The Norvane server must be installed to create a Web window");
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

    for (const std::string format : {"tree", "csv", "json"}) {
        const std::string base = "--whole -q --jobs 1 --format " + format;
        const std::string first = run(base).out;
        EXPECT_GT(first.size(), 10000u);
        EXPECT_TRUE(test::sameLines(run(base + " --jobs 4").out, first)) << format;
        if (format == "tree") {
            EXPECT_TRUE(test::sameLines(run(base + " --no-diagnostics").out, first));
        } else if (format == "json") {
            EXPECT_NE(first.find("\"messages\":"), std::string::npos);
            EXPECT_EQ(run(base + " --no-diagnostics").out.find("\"messages\":"), std::string::npos);
        }
    }
    // Each page expanded once, and the image map.
    const std::string summary = run("--whole -q --format summary --no-diagnostics").out;
    EXPECT_NE(summary.find("mode: links only (no markup check)\n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("documents parsed: " + std::to_string(pages + 2) + "\n"),
              std::string::npos)
        << summary;
}

// A hostile site, mapped whole: loops of every kind, a huge page, names
// longer than the platform allows, ways out of the served directories and a
// document map onto the file system's root. Every link leads to the
// site's own files (or to none), so that the walk cannot wander off into the
// machine's files. The map must finish, mark BROKEN what cannot be served
// and keep its memory bounded.
TEST_F(MapTool, HostileSiteIsMappedInBoundsAndStaysInside)
{
    configure([this](ConfigKey &server) {
        auto docMap = server.openKey("DocMap");
        WriteString(*docMap, "/root", "/");
        WriteString(*docMap, "/cgi/", m_site + "/cgi");
        auto redirects = server.createKey("RedirMap");
        WriteString(*redirects, "/loop1.html", "/loop2.html");
        WriteString(*redirects, "/loop2.html", "http://localhost/loop1.html");
        WriteString(*redirects, "/go.html", "/..\\..\\outside.html");
        server.openKey("DirIndex")
            ->setValue("EnableIndexing", ValueType::Binary, std::string_view("\x01", 1));
    });
    constexpr int kSelfLinks = 3000; // of each kind on the looping page
    std::string loop;
    for (int i = 0; i < kSelfLinks; ++i)
        loop += "<a href=\"page.html\">m</a><a href=\"../index.html\">u</a><a href=\"./\">d</a>\n";
    page("loop/page.html", loop);
    // A directory that contains itself: ring/again/again/... is the same page
    // under ever longer URLs, until the system stops following the links
    // (ELOOP, after 40): that page is BROKEN.
    page("ring/index.html", "<a href=\"again/index.html\">deeper</a><a href=\"/index.html\">h</a>");
    fs::create_directory_symlink(".", m_site + "/ring/again");
    fs::create_directory_symlink("knot2", m_site + "/knot");
    fs::create_directory_symlink("knot", m_site + "/knot2");
    // 50 MB of text with a link at the very end: found only when all was read.
    std::string big = "<html><body>\n";
    while (big.size() < (50u << 20))
        big += "<p>" + std::string(1000, 'w') + "</p>\n";
    page("big.html", big + "<a href=\"big-end.html\">end</a></body></html>\n");
    page("with blank.html", "<p>blank</p>");
    page("../elsewhere/shared.html", "<title>Shared</title>");
    fs::create_directory_symlink(m_dir + "/elsewhere", m_site + "/shared");
    m_tmp.write("outside.html", "<p>above the document root</p>");
    std::string longPath = "/";
    for (int i = 0; i < 2200; ++i)
        longPath += "d/";
    longPath += "x.html";
    const std::string longName = std::string(300, 'n') + ".html";

    // Each link, and why it is broken ("" when it is not).
    const std::vector<std::pair<std::string, std::string>> links = {
        {"loop/page.html", ""},
        {"ring/index.html", ""},
        {"/loop1.html", "redirect loop"},
        {"knot/x.html", "no such file"},
        {"big.html", ""},
        {"big-end.html", "no such file"},
        {"with blank.html", "no such file"}, // an href ends at its first blank
        {"sub/../index.html", ""},
        {"shared/shared.html", ""},
        {"../outside.html", "outside the site"},
        {"..\\outside.html", "outside the site"},
        {"/%2e%2e/outside.html", "no such file"}, // a name of its own inside the site
        {"/go.html", "outside the site"},
        {"/cgi/..\\..\\..\\outside.html", "outside the site"},
        {"/~icons/..\\..\\..\\outside.html", "outside the site"},
        {"/root/", ""}, // a listing of /, which is not read
        {longPath, "path too long"},
        {longName, "no such file"},
    };
    std::string index;
    for (const auto &link : links)
        index += "<a href=\"" + link.first + "\">x</a>\n";
    page("index.html", index);

    std::map<std::string, Row> byHref; // the first row of each link
    std::vector<Row> rows = ParseCsv(run("--whole -q --format csv").out);
    for (const Row &r : rows)
        byHref.emplace(r.href, r);
    for (const auto &[href, why] : links)
        EXPECT_EQ(byHref.count(href) ? byHref[href].why : "(no row)", why) << href.substr(0, 80);
    EXPECT_EQ(byHref["/root/"].kind, "HTML Dir");
    size_t ring = 0, ringBroken = 0;
    for (const Row &r : rows) {
        ring += r.url.find("/ring/again/") != std::string::npos;
        ringBroken += r.url.find("/ring/again/") != std::string::npos && r.broken();
    }
    EXPECT_GT(ring, 20u);
    EXPECT_LT(ring, 1000u);
    EXPECT_GE(ringBroken, 1u);
    EXPECT_GT(rows.size(), 3u * kSelfLinks);
    EXPECT_LT(rows.size(), 50000u);

    // Through the map onto "/", a URL path is a file-system path: the file
    // above the site is served, and every page found lies inside the site.
    rows = ParseCsv(
        run("--whole -q --format csv http://localhost/root" + m_site + "/index.html").out);
    EXPECT_GT(rows.size(), 3u * kSelfLinks);
    size_t above = 0;
    for (const Row &r : rows) {
        if (r.url == "http://localhost/root" + m_dir + "/outside.html") {
            EXPECT_FALSE(r.broken()) << r.why;
            above += r.file == m_dir + "/outside.html";
        }
        if (!r.broken() && r.kind == "HTML") {
            EXPECT_EQ(r.file.rfind(m_dir + "/", 0), 0u) << r.url.substr(0, 200);
        }
    }
    EXPECT_GE(above, 1u);

    long kib = -1;
    for (const std::string &line : Lines(run("--whole -q --format summary").out))
        std::sscanf(line.c_str(), "peak rss KiB: %ld", &kib);
    ASSERT_GT(kib, 0) << "no peak memory in the summary";
    EXPECT_LT(kib, 1024L * 1024);
    RecordProperty("peak_rss_kib", std::to_string(kib));
}

// External links through the tool: the option reaches the walk, which
// fetches, parses and marks them (the HTTP rules are checked in tests/model).
TEST_F(MapTool, ExternalLinksAreCheckedParsedAndMarked)
{
    test::ScriptServer far;
    far.push({{"HTTP/1.0 404 Not Found\r\n\r\n"}});
    far.setDefault({{"HTTP/1.0 200 OK\r\nContent-type: text/html\r\nLast-Modified: Sun, 06 Nov "
                     "1994 08:49:37 GMT\r\n\r\n<title>Far</title>"}});
    const std::string gone = far.base() + "/gone.html", good = far.base() + "/good.html";
    page("index.html", "<a href=\"" + gone + "\">g</a> <a href=\"" + good + "\">f</a>");
    configure();
    fs::create_directories(m_dir + "/tmp");

    const ToolRun map
        = run("-q --jobs 1 --check-external --format csv", {{"TMPDIR", m_dir + "/tmp"}});
    EXPECT_EQ(map.status, 1) << map.out;      // broken links found
    std::map<std::string, std::string> byUrl; // flags, cause and title
    for (const Row &r : ParseCsv(map.out))
        byUrl.emplace(r.url, r.flags + " " + r.why + " " + r.title);
    EXPECT_EQ(byUrl[gone], "BROKEN|EXTERNAL HTTP 404 Not Found ") << map.out;
    EXPECT_EQ(byUrl[good], "EXTERNAL  Far") << "an external page is parsed";
    // The fetched documents' temporary files are gone when the tool ends.
    EXPECT_TRUE(fs::is_empty(m_dir + "/tmp"));
}
