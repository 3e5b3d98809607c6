// The links a page gives are collected while it is read; the tree walk over
// a finished parse (ExtractLinks) must give the very same events and
// messages, on every kind of input.

#include "htmlparse/HtmlParse.h"
#include "model/Page.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

using namespace sylvix;
namespace fs = std::filesystem;

namespace {

// What the tree walk gives for bytes.
PageEvents byTree(std::string_view bytes, bool diagnostics)
{
    PageEvents page;
    html::ParseOptions options;
    options.diagnostics = diagnostics;
    auto doc = html::ParseBytes(
        bytes,
        [&page](const html::Error &e) {
            page.diagnostics.push_back({e.message, e.level, e.line});
            return 1;
        },
        options);
    int line = 0;
    if (size_t dropped = CollectLinkEvents(doc->root(), page.events, &line))
        page.diagnostics.push_back(CutNote(dropped, line));
    return page;
}

std::string describe(const LinkEvent &e)
{
    std::ostringstream s;
    s << "type " << int(e.type) << " flags " << e.flags << " line " << e.line << " href [" << e.href
      << "] label " << (e.label ? "[" + *e.label + "]" : "none") << " method "
      << (e.method ? "[" + *e.method + "]" : "none");
    return s.str();
}

// Empty when both ways agree, else the first difference.
std::string difference(std::string_view bytes, bool diagnostics)
{
    const PageEvents tree = byTree(bytes, diagnostics);
    const PageEvents scan = ParsePageBytes(bytes, diagnostics);
    const size_t n = std::min(tree.events.size(), scan.events.size());
    for (size_t i = 0; i < n; ++i) {
        const std::string a = describe(tree.events[i]);
        const std::string b = describe(scan.events[i]);
        if (a != b)
            return "event " + std::to_string(i) + ":\n tree " + a + "\n scan " + b;
    }
    if (tree.events.size() != scan.events.size())
        return "events: tree " + std::to_string(tree.events.size()) + ", scan "
               + std::to_string(scan.events.size());
    if (tree.diagnostics != scan.diagnostics) {
        std::string out = "messages differ:";
        for (const auto &d : tree.diagnostics)
            out += "\n tree " + std::to_string(d.line) + ": " + d.message;
        for (const auto &d : scan.diagnostics)
            out += "\n scan " + std::to_string(d.line) + ": " + d.message;
        return out;
    }
    return {};
}

std::string readFile(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<fs::path> filesUnder(const fs::path &dir)
{
    std::vector<fs::path> out;
    if (!fs::is_directory(dir))
        return out;
    for (const auto &entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            out.push_back(entry.path());
    std::sort(out.begin(), out.end());
    return out;
}

// The shapes where a tree builder and a reader that keeps no tree part
// ways: white space kept or dropped by what came before it, elements after
// the root's end, start tags without their '>', the depth limit, a forced
// fall-back to Latin-1, and the cap on children.
std::vector<std::pair<const char *, std::string>> shapes()
{
    std::vector<std::pair<const char *, std::string>> v = {
        {"blank labels", "<p><a href=a> </a><a href=b> <img src=i.gif> </a>\n<div><a href=c>"
                         "\n</a> <b> </b> <a href=d> </a></div><ul> <li><a href=e> </a> </ul>"},
        {"blanks after elements",
         "<table> <tr> <td><a href=x>x</a> <a href=y> </a></td> </tr> </table>"},
        {"blanks after comment and pi",
         "<div><!-- c --> <a href=a> <!--x--> </a><?php echo 1 ?> <a href=b> </a></div>"},
        {"strict doctype", "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">\n<body> <a "
                           "href=a> </a> </body>"},
        {"content after the root",
         "<html><body><a href=a>a</a></body></html> <a href=late>late</a> text <title>t</title>"},
        {"content after the root, doctype",
         "<!DOCTYPE html><html><body><a href=a>a</a></body></html><a href=lost>lost</a>"},
        {"content after the root, comment first",
         "<!-- c --><html><body></body></html><a href=lost>lost</a>"},
        {"late doctype", "<html><body><!DOCTYPE html></body></html><a href=lost>x</a>"},
        {"misplaced html", "<html><body><html href=h lang=x><a href=a>a</a><body href=b>"},
        {"start tag without end", "<form action=f><input type=submit value=go<a href=a>a</a>"
                                  "<input type=submit value=second></form>"},
        {"garbage in start tags",
         std::string("<form action=f\x01<input type=submit value=v></form><a href=z>z</a><div "
                     "id=d\x02 text<a href=y>y</a>")},
        {"forms", "<form action=a method=post><p><input type=submit value=deep></p>"
                  "<input type=text><input type=SUBMIT value=top></form><form action=b>"
                  "<input type=submit></form><form><input type=submit value=x></form>"},
        {"script and style in labels",
         "<a href=a><script>var s = '<b>';</script>x<style>p{}</style></a><title>t<b>u</b></"
         "title><title></title>"},
        {"nested anchors and titles", "<a href=o>out<a href=i>in</a>rest</a><title>a</title>"},
        {"attributes", "<img src=i ISMAP alt><img src=j alt=\"\"><input type=image src=s value=v>"
                       "<input src=t><link href=l role=r><area href=m><base href=b><base>"
                       "<a name=n>no href</a><a HREF=up>up</a>"},
        {"entities and references", "<a href=\"a&amp;b\">&#32;</a><a href=c>&lt;&#x20;</a>"},
        {"latin-1 fall-back", "<title>caf\xe9</title><a href=\"x\xe9.html\">\xc3 \xa9</a>"},
        {"crlf and cr", "<a\r\nhref=a\r\n>a\r\nb</a>\r\n<a href=b>b</a>"},
        {"implied paragraphs", "text <a href=a>a</a><head><title>late</title></head> more"},
    };
    auto nest = [](int depth, const std::string &inner) {
        std::string s;
        for (int i = 0; i < depth; ++i)
            s += "<div>";
        return s + inner;
    };
    // The root is at depth 1 and the limit is 256: body at 2, so 252 divs
    // put the next element at 255.
    for (int depth : {251, 252, 253, 254, 300})
        v.push_back({"deep", nest(depth, "<a href=a>x<b>y</b></a><title>t</title><form "
                                         "action=f><input type=submit value=v><p><input "
                                         "type=submit value=w></p></form>z")});
    // Deeper than the markup checker goes: the message gives the depth.
    v.push_back({"very deep", nest(1100, "<p>text<!-- c --></p>")});
    v.push_back({"very deep, empty", nest(1200, "")});
    std::string many = "<body>\n";
    for (size_t i = 0; i <= kMaxPageChildren + 2; ++i)
        many += "<a href=" + std::to_string(i) + ">" + std::to_string(i) + "</a>\n";
    v.push_back({"over the cap", many});
    return v;
}

} // namespace

TEST(LinkScan, ShapesGiveWhatTheTreeGives)
{
    for (const auto &[name, page] : shapes())
        for (bool diagnostics : {false, true})
            EXPECT_EQ(difference(page, diagnostics), "") << name;
}

TEST(LinkScan, CorporaGiveWhatTheTreeGives)
{
    const fs::path source = SYLVIX_SOURCE_DIR;
    std::vector<fs::path> files = filesUnder(source / "tests/fuzz/corpus/html");
    for (const char *dir : {"examples/demo-site", "resources/help"})
        for (const fs::path &p : filesUnder(source / dir))
            if (p.extension() == ".html" || p.extension() == ".htm")
                files.push_back(p);

    // A small generated site: sections, navigation, forms, broken markup.
    const fs::path out = fs::temp_directory_path() / ("linkscan-" + std::to_string(getpid()));
    const std::string command = "python3 " + (source / "bench/gen_site.py").string() + " "
                                + out.string() + " --pages 150 --seed 7 >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    size_t generated = 0;
    for (const fs::path &p : filesUnder(out / "site"))
        if (p.extension() == ".html")
            files.push_back(p), ++generated;
    EXPECT_GE(generated, 150u);

    size_t links = 0;
    for (const fs::path &p : files) {
        const std::string bytes = readFile(p);
        EXPECT_EQ(difference(bytes, true), "") << p;
        links += ParsePageBytes(bytes, false).events.size();
    }
    EXPECT_GT(links, 1000u); // the inputs really have links
    fs::remove_all(out);
}

// Random cuts and splices of real pages reach the recovery paths of the
// parser that no hand-made case thought of.
TEST(LinkScan, MutatedPagesGiveWhatTheTreeGives)
{
    const fs::path source = SYLVIX_SOURCE_DIR;
    std::vector<std::string> pages;
    for (const fs::path &p : filesUnder(source / "tests/fuzz/corpus/html"))
        pages.push_back(readFile(p));
    for (const auto &[name, page] : shapes())
        if (page.size() < 10000)
            pages.push_back(page);
    ASSERT_FALSE(pages.empty());
    const char *pieces[] = {"<",
                            ">",
                            "</",
                            "</html>",
                            "<html>",
                            "<!DOCTYPE html>",
                            "<!--",
                            "-->",
                            "<a href=x>",
                            "</a>",
                            "<title>",
                            "</title>",
                            "<form action=f>",
                            "<input type=submit value=v>",
                            "</form>",
                            " ",
                            "\n",
                            "<p>",
                            "</body>",
                            "<script>",
                            "</script>",
                            "<?pi x?>",
                            "&amp;",
                            "\xe9",
                            "<td>",
                            "<table>",
                            "<img src=i alt=a>",
                            "\"",
                            "'",
                            "="};
    std::mt19937 random(20261206);
    for (int round = 0; round < 600; ++round) {
        std::string page = pages[random() % pages.size()];
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits; ++e) {
            const size_t at = page.empty() ? 0 : random() % page.size();
            switch (random() % 3) {
            case 0: page.insert(at, pieces[random() % std::size(pieces)]); break;
            case 1: page.erase(at, random() % 40); break;
            default: {
                const std::string &other = pages[random() % pages.size()];
                const size_t from = random() % (other.size() + 1);
                page.insert(at, other.substr(from, random() % 200));
            }
            }
        }
        const std::string diff = difference(page, round % 4 == 0);
        EXPECT_EQ(diff, "") << "round " << round << ":\n" << page;
        if (!diff.empty())
            break;
    }
}
