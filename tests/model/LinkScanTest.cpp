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
#include <random>
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
    if (!fs::is_directory(dir))
        return out;
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

// Every input: the fuzz corpus; hand-made shapes where a tree builder and a
// reader that keeps no tree part ways (white space kept or dropped by what
// came before it, elements after the root's end, start tags without their
// '>', a forced fall-back to Latin-1), nesting around the depth limit and
// the cap on children, the first handMade of them; then the demo site, the
// help pages and a small generated site.
std::vector<std::pair<std::string, std::string>> inputs(const fs::path &generated, size_t &handMade)
{
    const fs::path source = SYLVIX_SOURCE_DIR;
    std::vector<fs::path> files = filesUnder(source / "tests/fuzz/corpus/html");
    for (const fs::path &p : filesUnder(source / "tests/model/linkscan"))
        files.push_back(p);
    std::vector<std::pair<std::string, std::string>> v;
    for (const fs::path &p : files)
        v.emplace_back(p.string(), readFile(p.string()));
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
    handMade = v.size();
    for (const fs::path &dir :
         {source / "examples/demo-site", source / "resources/help", generated})
        for (const fs::path &p : filesUnder(dir))
            if (p.extension() == ".html" || p.extension() == ".htm")
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
    size_t handMade = 0;
    const auto pages = inputs(out / "site", handMade);
    fs::remove_all(out);
    ASSERT_GT(pages.size(), 150u + 19u);
    size_t links = 0;
    for (const auto &[name, page] : pages) {
        for (bool diagnostics : {false, true})
            EXPECT_TRUE(
                sameLines(text(ParsePageBytes(page, diagnostics)), text(byTree(page, diagnostics))))
                << name;
        links += ParsePageBytes(page, false).events.size();
    }
    EXPECT_GT(links, 1000u); // the inputs really have links

    // The page over the cap gives as many children as a page may, says how
    // many links it dropped where, and is still read to its end.
    const PageEvents capped = ParsePageBytes(overTheCap(), false);
    ASSERT_EQ(capped.events.size(), kMaxPageChildren + 1);
    EXPECT_EQ(capped.events.back().type, LinkEvent::Title);
    EXPECT_EQ(capped.events.back().label.value_or(""), "still read");
    ASSERT_EQ(capped.diagnostics.size(), 1u);
    EXPECT_EQ(capped.diagnostics[0].line, static_cast<int>(kMaxPageChildren) + 1);
    EXPECT_NE(capped.diagnostics[0].message.find("the 7 links after those"), std::string::npos);

    // Random cuts and splices of the small hand-made pages reach the
    // recovery paths of the parser that no hand-made case thought of.
    std::vector<std::string> pieces;
    std::istringstream pieceList("<|>|</|</html>|<html>|<!DOCTYPE html>|<!--|-->|<a href=x>|</a>|"
                                 "<title>|</title>|<form action=f>|<input type=submit value=v>|"
                                 "</form>| |\n|<p>|</body>|<script>|</script>|<?pi x?>|&amp;|\xe9|"
                                 "<td>|<table>|<img src=i alt=a>|\"|'|=");
    for (std::string piece; std::getline(pieceList, piece, '|');)
        pieces.push_back(piece);
    std::vector<std::string> pool;
    for (size_t i = 0; i < handMade; ++i)
        if (pages[i].second.size() < 10000)
            pool.push_back(pages[i].second);
    std::mt19937 random(20261206);
    for (int round = 0; round < 600; ++round) {
        std::string page = pool[random() % pool.size()];
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits; ++e) {
            const size_t at = page.empty() ? 0 : random() % page.size();
            switch (random() % 3) {
            case 0: page.insert(at, pieces[random() % pieces.size()]); break;
            case 1: page.erase(at, random() % 40); break;
            default: {
                const std::string &other = pool[random() % pool.size()];
                const size_t from = random() % (other.size() + 1);
                page.insert(at, other.substr(from, random() % 200));
            }
            }
        }
        const std::string scan = text(ParsePageBytes(page, round % 4 == 0));
        EXPECT_EQ(scan, text(byTree(page, round % 4 == 0))) << "round " << round << ":\n" << page;
        if (HasFailure())
            break;
    }
}
