// A hostile site, built in a temporary directory at test time and mapped
// whole-tree by sylvix-map as a user would run it: loops of every kind, a
// named pipe where a page should be, a page nobody may read, pages that are
// binary, empty, huge, awkward names, a path longer than
// the platform allows, and a document map pointing at the file system's
// root. The map must finish (a hang fails the test instead of hanging it),
// mark BROKEN what cannot be served, and keep its memory bounded.
//
// Every link of the site leads to its own files (or to names that do not
// exist), so that even with the whole file system as document root the walk
// cannot wander off into the machine's files.

#include "model/Config.h"
#include "platform/ConfigStore.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace sylvix;

namespace {

namespace fs = std::filesystem;

// Long enough for a sanitizer build on a slow machine; a hang is far longer.
constexpr int kMapDeadlineSeconds = 300;
constexpr long kMaxPeakKiB = 1024 * 1024; // 1 GiB

constexpr int kSelfLinks = 3000; // per kind of link on the looping page
constexpr size_t kBigPage = 50u << 20;

// Runs sylvix-map on store with args; killed when it outlives the deadline.
test::ToolRun runMap(const std::vector<std::string> &args, const std::string &store)
{
    return test::runTool(SYLVIX_MAP_PATH, args, {{"NORVANE_REGISTRY", store}}, {},
                         kMapDeadlineSeconds);
}

// The map's CSV output: one row of fields per node.
std::vector<std::vector<std::string>> parseCsv(const std::string &text)
{
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(std::move(field));
            field.clear();
        } else if (c == '\n') {
            row.push_back(std::move(field));
            field.clear();
            rows.push_back(std::move(row));
            row.clear();
        } else {
            field += c;
        }
    }
    return rows;
}

struct Row
{
    std::string kind, flags, url, href, file;
    bool broken() const { return flags.find("BROKEN") != std::string::npos; }
};

class HostileSite : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_site = m_dir + "/site";
        buildSite();
    }

    void write(const std::string &rel, const std::string &content)
    {
        fs::path p = fs::path(m_site) / rel;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
    }

    void buildSite()
    {
        std::string index = "<html><head><title>Hostile</title></head><body>\n";
        for (const char *href :
             {"loop/page.html", "/loop1.html", "ring/index.html", "knot/x.html", "fifo/page.html",
              "locked.html", "binary.html", "empty.html", "big.html", "names.html", "/root/"})
            index += std::string("<a href=\"") + href + "\">x</a>\n";
        index += "</body></html>\n";
        write("index.html", index);

        // Itself and its parent, thousands of times each.
        std::string loop;
        for (int i = 0; i < kSelfLinks; ++i)
            loop += "<a href=\"page.html\">me</a><a href=\"../index.html\">up</a><a "
                    "href=\"./\">dir</a>\n";
        write("loop/page.html", loop);

        // A directory that contains itself: ring/again/again/... is always
        // the same page under a longer URL, until the system gives up.
        write("ring/index.html",
              "<a href=\"again/index.html\">deeper</a><a href=\"/index.html\">home</a>");
        fs::create_directory_symlink(".", m_site + "/ring/again");
        // Links that lead to each other and never to a file.
        fs::create_directory_symlink("knot2", m_site + "/knot");
        fs::create_directory_symlink("knot", m_site + "/knot2");

        fs::create_directories(m_site + "/fifo");
        ASSERT_EQ(::mkfifo((m_site + "/fifo/page.html").c_str(), 0644), 0);

        write("locked.html", "<a href=\"locked-link.html\">only for who may read</a>");
        fs::permissions(m_site + "/locked.html", fs::perms::none);

        std::mt19937 rng(7);
        std::string binary(64 << 10, '\0');
        for (char &c : binary)
            c = static_cast<char>(rng());
        write("binary.html", binary);
        write("empty.html", "");

        // 50 MB of ordinary text, with a link at the very end: it is found
        // only when the whole file was read.
        {
            std::ofstream big(m_site + "/big.html", std::ios::binary);
            big << "<html><body>\n";
            const std::string para = "<p>" + std::string(1000, 'w') + "</p>\n";
            size_t written = 14;
            while (written + para.size() < kBigPage - 100) {
                big << para;
                written += para.size();
            }
            big << "<a href=\"big-end.html\">end</a></body></html>\n";
        }

        write("with blank.html", "<p>blank</p>");
        write("a%20b.html", "<p>percent</p>");
        write("ünïcödé/päge.html", "<p>utf-8</p>");
        write("sub/keep.html", "");
        std::ofstream(m_dir + "/outside.html") << "<p>above the document root</p>";
        const std::string longPath = "/" + [] {
            std::string s;
            for (int i = 0; i < 2200; ++i)
                s += "d/";
            return s;
        }() + "x.html";
        m_longHref = longPath;
        m_longNameHref = std::string(300, 'n') + ".html";
        std::string names;
        for (const std::string &href :
             std::vector<std::string>{"with blank.html", "with%20blank.html", "a%20b.html",
                                      "ünïcödé/päge.html", "sub/../index.html", "sub/./keep.html",
                                      "../outside.html", m_longHref, m_longNameHref})
            names += "<a href=\"" + href + "\">n</a>\n";
        write("names.html", names);
    }

    // A store whose server serves the site with document root docRoot.
    std::string configure(const std::string &name, const std::string &docRoot)
    {
        std::string path = m_dir + "/" + name;
        auto store = OpenSqliteStore(path);
        EXPECT_TRUE(store);
        if (!store)
            return path;
        auto server = store->root()->createKey(kServerKeyPath);
        WriteString(*server, "ServerName", "localhost");
        WriteDword(*server, "TCP Port", 80);
        auto docMap = server->createKey("DocMap");
        WriteString(*docMap, "/", docRoot);
        WriteString(*docMap, "/root/", "/");
        auto redir = server->createKey("RedirMap");
        WriteString(*redir, "/loop1.html", "/loop2.html");
        WriteString(*redir, "/loop2.html", "http://localhost/loop1.html");
        auto types = server->createKey("TypeMap");
        WriteString(*types, ".html", "text/html");
        auto index = server->createKey("DirIndex");
        WriteString(*index, "IndexDoc", "index.html");
        index->setValue("EnableIndexing", ValueType::Binary, std::string_view("\x01", 1));
        WriteDword(*store->root()->createKey(kProgramKeyPath), "OutBound", 0);
        return path;
    }

    std::map<std::string, Row> mapCsv(const std::string &store, const std::string &url)
    {
        const test::ToolRun r = runMap({"--whole", "-q", "--format", "csv", url}, store);
        EXPECT_TRUE(r.finished) << "sylvix-map did not finish within " << kMapDeadlineSeconds
                                << " s";
        EXPECT_EQ(r.status, 1) << "broken links are expected; output starts: "
                               << r.out.substr(0, 2000);
        std::map<std::string, Row> byHref;
        auto rows = parseCsv(r.out);
        if (rows.size() < 2) {
            ADD_FAILURE() << "no CSV rows";
            return byHref;
        }
        // Columns by the names in the header line.
        std::map<std::string, size_t> column;
        for (size_t c = 0; c < rows[0].size(); ++c)
            column[rows[0][c]] = c;
        for (const char *name : {"kind", "flags", "url", "href", "file"})
            if (!column.count(name)) {
                ADD_FAILURE() << "no CSV column " << name;
                return byHref;
            }
        for (size_t i = 1; i < rows.size(); ++i) {
            if (rows[i].size() != rows[0].size()) {
                ADD_FAILURE() << "a CSV row of " << rows[i].size() << " fields";
                continue;
            }
            auto field = [&](const char *name) { return rows[i][column[name]]; };
            m_csvRows.push_back(
                Row{field("kind"), field("flags"), field("url"), field("href"), field("file")});
            byHref.emplace(field("href"), m_csvRows.back()); // the first row of each link
        }
        return byHref;
    }

    long peakKiB(const std::string &store, const std::string &url, size_t &nodes)
    {
        const test::ToolRun r = runMap({"--whole", "-q", "--format", "summary", url}, store);
        EXPECT_TRUE(r.finished) << "sylvix-map did not finish within " << kMapDeadlineSeconds
                                << " s";
        long kib = -1;
        nodes = 0;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);) {
            std::sscanf(line.c_str(), "peak rss KiB: %ld", &kib);
            std::sscanf(line.c_str(), "nodes visited: %zu", &nodes);
        }
        std::printf("%s", r.out.c_str());
        return kib;
    }

    test::TempDir m_tmp;
    const std::string m_dir = m_tmp.path();
    std::string m_site, m_longHref, m_longNameHref;
    std::vector<Row> m_csvRows;
};

TEST_F(HostileSite, WholeMapFinishesMarksWhatIsBrokenAndStaysSmall)
{
    const std::string store = configure("registry.db", m_site);
    const std::string start = "http://localhost/index.html";
    std::map<std::string, Row> rows = mapCsv(store, start);
    auto row = [&](const std::string &href) -> const Row & {
        static const Row none{"(missing)", "", "", "", ""};
        auto it = rows.find(href);
        EXPECT_NE(it, rows.end()) << "no row for the link " << href.substr(0, 80);
        return it == rows.end() ? none : it->second;
    };

    struct Expect
    {
        std::string href;
        bool broken;
        const char *why;
    };
    const std::vector<Expect> expects = {
        {"/loop1.html", true, "a redirect loop is followed only so far"},
        {"knot/x.html", true, "a symbolic-link loop cannot be opened"},
        {"with blank.html", true, "an href ends at its first blank"},
        {"with%20blank.html", true, "%20 is not decoded"},
        {m_longHref, true, "a path longer than the platform allows"},
        {m_longNameHref, true, "a name longer than the platform allows"},
        {"big-end.html", true, "the link at the end of the 50 MB page leads nowhere"},
        {"fifo/page.html", true, "a named pipe is nothing the server could send"},
        {"locked.html", false, "a file without read permission exists"},
        {"binary.html", false, "a binary page is still a page"},
        {"empty.html", false, "an empty page is still a page"},
        {"big.html", false, "a page of 50 MB"},
        {"a%20b.html", false, "a name that holds %20 itself"},
        {"ünïcödé/päge.html", false, "UTF-8 names"},
        {"sub/../index.html", false, ".. in a link"},
        {"sub/./keep.html", false, "./ in a link is kept and the file system resolves it"},
        {"../outside.html", true, "a link above the document root is outside the site"},
        {"/root/", false, "a directory map onto / gives a listing, which is not read"},
    };
    for (const Expect &e : expects)
        EXPECT_EQ(row(e.href).broken(), e.broken) << e.href.substr(0, 80) << ": " << e.why;

    EXPECT_EQ(row("/root/").kind, "HTML Dir");
    EXPECT_EQ(row("../outside.html").file, m_dir + "/outside.html");
    // Root reads files whatever their permissions say.
    EXPECT_EQ(rows.count("locked-link.html"), ::geteuid() == 0 ? 1u : 0u);

    // The ring of directories ends where the system stops following
    // symbolic links in one path (ELOOP, after 40): that page is BROKEN.
    size_t ringRows = 0, ringBroken = 0, loopRows = 0;
    for (const Row &r : m_csvRows) {
        const bool ring = r.url.find("/ring/again/") != std::string::npos;
        ringRows += ring;
        ringBroken += ring && r.broken();
        loopRows += r.url.find("/loop/") != std::string::npos || r.href == "../index.html";
    }
    EXPECT_GT(ringRows, 20u);
    EXPECT_LT(ringRows, 1000u);
    EXPECT_GE(ringBroken, 1u);
    EXPECT_GE(loopRows, static_cast<size_t>(2 * kSelfLinks));
    EXPECT_LT(m_csvRows.size(), 50000u);

    size_t nodes = 0;
    const long kib = peakKiB(store, start, nodes);
    EXPECT_EQ(nodes, m_csvRows.size());
    ASSERT_GT(kib, 0) << "no peak memory in the summary";
    EXPECT_LT(kib, kMaxPeakKiB);
    RecordProperty("peak_rss_kib", std::to_string(kib));
}

TEST_F(HostileSite, DocumentRootAtTheFileSystemRootStaysInsideTheSite)
{
    const std::string store = configure("registry-root.db", "/");
    // With "/" as document root a URL path is a file-system path.
    const std::string start = "http://localhost" + m_site + "/names.html";
    std::map<std::string, Row> rows = mapCsv(store, start);
    ASSERT_TRUE(rows.count("../outside.html"));
    EXPECT_FALSE(rows["../outside.html"].broken());
    EXPECT_EQ(rows["../outside.html"].file, m_dir + "/outside.html");
    EXPECT_TRUE(rows[m_longHref].broken());
    EXPECT_FALSE(rows["sub/../index.html"].broken());
    // Every page that was found lies inside the site's directory.
    for (const Row &r : m_csvRows) {
        if (!r.broken() && r.kind == "HTML") {
            EXPECT_EQ(r.file.rfind(m_dir + "/", 0), 0u)
                << r.url.substr(0, 200) << " -> " << r.file.substr(0, 200);
        }
    }
    EXPECT_LT(m_csvRows.size(), 50000u);

    size_t nodes = 0;
    const long kib = peakKiB(store, start, nodes);
    EXPECT_GT(kib, 0);
    EXPECT_LT(kib, kMaxPeakKiB);
}

} // namespace
