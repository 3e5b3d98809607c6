// The links a page gives are collected while it is read; the tree walk over
// a finished parse (ExtractLinks) must give the very same events and
// messages, on every kind of input.

#include "htmlparse/HtmlParse.h"
#include "model/Page.h"
#include "tests/support/SameLines.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

using namespace sylvix;
using sylvix::test::readFile;
using sylvix::test::sameLines;
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

// Every event and message, a line each.
std::string text(const PageEvents &page)
{
    std::ostringstream s;
    for (const LinkEvent &e : page.events)
        s << "type " << int(e.type) << " flags " << e.flags << " line " << e.line << " href ["
          << e.href << "] label " << (e.label ? "[" + *e.label + "]" : "none") << " method "
          << (e.method ? "[" + *e.method + "]" : "none") << "\n";
    for (const auto &d : page.diagnostics)
        s << d.line << ": " << d.level << " " << d.message << "\n";
    return s.str();
}

std::vector<fs::path> filesUnder(const fs::path &dir)
{
    std::vector<fs::path> out;
    for (const auto &entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            out.push_back(entry.path());
    std::sort(out.begin(), out.end());
    return out;
}

// A page with 7 links more than a page may give, then its title.
std::string overTheCap()
{
    std::string page;
    for (size_t i = 0; i < kMaxPageChildren + 7; ++i)
        page += "<a href=x" + std::to_string(i) + ">x</a>\n";
    return page + "<title>still read</title>\n";
}

// Every input: nesting around the depth limit and the cap on children; the
// fuzz corpus; hand-made shapes where a tree builder and a reader that keeps
// no tree part ways (white space kept or dropped by what came before it,
// elements after the root's end, start tags without their '>', a forced
// fall-back to Latin-1); the demo site, the help pages and a small
// generated site.
std::vector<std::pair<std::string, std::string>> inputs(const fs::path &generated)
{
    std::vector<std::pair<std::string, std::string>> v;
    auto nest = [](int depth, const std::string &inner) {
        std::string s;
        for (int i = 0; i < depth; ++i)
            s += "<div>";
        return s + inner;
    };
    // The root is at depth 1 and the limit is 256: body at 2, so 252 divs
    // put the next element at 255. Past 1000 the markup checker gives up.
    for (int depth : {251, 252, 253, 254, 300})
        v.emplace_back("deep", nest(depth, "<a href=a>x<b>y</b></a><title>t</title><form "
                                           "action=f><input type=submit value=v><p><input "
                                           "type=submit value=w></p></form>z"));
    v.emplace_back("very deep", nest(1100, "<p>text<!-- c --></p>"));
    v.emplace_back("very deep, empty", nest(1200, ""));
    v.emplace_back("over the cap", overTheCap());
    const fs::path source = SYLVIX_SOURCE_DIR;
    for (const fs::path &dir :
         {source / "tests/fuzz/corpus/html", source / "tests/model/linkscan",
          source / "examples/demo-site", source / "resources/help", generated})
        for (const fs::path &p : filesUnder(dir)) // the fuzz seeds have no extension
            if (p.extension() == ".html" || p.extension() == ".htm" || p.extension().empty())
                v.emplace_back(p.string(), readFile(p.string()));
    return v;
}

} // namespace

TEST(LinkScan, InputsGiveWhatTheTreeGives)
{
    const fs::path out = fs::temp_directory_path() / ("linkscan-" + std::to_string(getpid()));
    const std::string command = "python3 " + std::string(SYLVIX_SOURCE_DIR) + "/bench/gen_site.py "
                                + out.string() + " --pages 150 --seed 7 >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const auto pages = inputs(out / "site");
    fs::remove_all(out);
    ASSERT_GT(pages.size(), 150u + 19u);
    for (const auto &[name, page] : pages)
        for (bool diagnostics : {false, true})
            EXPECT_TRUE(
                sameLines(text(ParsePageBytes(page, diagnostics)), text(byTree(page, diagnostics))))
                << name;

    // The page over the cap gives as many children as a page may, then its
    // title, and one message; where and what, the comparison above checks.
    const PageEvents capped = ParsePageBytes(overTheCap(), false);
    EXPECT_EQ(capped.events.size(), kMaxPageChildren + 1);
    EXPECT_EQ(capped.diagnostics.size(), 1u);
}
