// Pages built to exhaust the parsing libraries: huge, deeply nested,
// attribute floods and a checker that never finishes. (Parses on many
// threads at once are compared in the map tool's test, over a whole site.)

#include "ParseHelpers.h"
#include "htmlparse/Bounds.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace sylvix::html;
using namespace sylvix::html::test;

namespace {

// What a consumer does: recurse over the blocks. Returns the depth of the
// tree and counts its elements.
int Walk(const Block *b, size_t &elements)
{
    int depth = 0;
    for (; b != nullptr; b = BlockNext(b)) {
        if (BlockTypeOf(b) == Element) {
            ++elements;
            depth = std::max(depth, 1 + Walk(BlockFirstChild(b), elements));
        }
    }
    return depth;
}

std::string Repeat(const std::string &s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

std::string Attributes(int count, const char *separator)
{
    std::string out;
    for (int i = 0; i < count; ++i)
        out += separator + std::string("data-a") + std::to_string(i) + "=\"v>" + std::to_string(i)
               + "\"";
    return out;
}

// An ASCII page in UTF-16, with or without a byte-order mark.
std::string Utf16(const std::string &ascii, bool littleEndian, bool mark)
{
    std::string out = mark ? (littleEndian ? "\xFF\xFE" : "\xFE\xFF") : "";
    for (char c : ascii)
        out += littleEndian ? std::string{c, '\0'} : std::string{'\0', c};
    return out;
}

} // namespace

TEST(HtmlRobustness, HugePage)
{
    std::string page = "<html><head><title>Big</title></head><body>\n";
    const std::string row = "<p>Row of text with <a href=\"target.html\">a link</a> in it.</p>\n";
    size_t anchors = 0;
    for (; page.size() < CheckMaxBytes + (1u << 20); ++anchors) // just past the checker's limit
        page += row;
    page += "</body></html>\n";

    const Parsed o = ParseKeeping(page);
    // Nothing is lost: every link is in the tree, the last one where it was
    // (row k is on line k + 2, past what libxml2 counts in a node).
    const Block *last = FindElement(o.doc->root(), "a", static_cast<int>(anchors) - 1);
    EXPECT_STREQ(HTMLGetAttr(last, "href"), "target.html");
    EXPECT_EQ(BlockLine(last), static_cast<int>(anchors) + 1);
    EXPECT_EQ(BlockLine(BlockFirstChild(last)), static_cast<int>(anchors) + 1);
    EXPECT_TRUE(
        Mentions(o.messages, "Markup checks were skipped: the document is larger than 16 MB"));
}

TEST(HtmlRobustness, DeepNesting)
{
    constexpr int kDepth = 100000;
    const std::string nested
        = Repeat("<div>", kDepth) + "<a href=\"deep.html\">bottom</a>" + Repeat("</div>", kDepth);
    // Unclosed elements then stray end tags: libxml2 scans its whole stack
    // for each one.
    const std::string strays = Repeat("<div>", 30000) + Repeat("</span>", 200000);
    // The page, at least so many elements in its tree, and its note.
    const std::tuple<const char *, std::string, size_t, const char *> cases[] = {
        {"nested", nested, kDepth, "Markup checks were skipped: elements are nested"},
        {"stray end tags", strays, 30000, "Reading stopped here"},
        // Just inside every limit: the checker runs and the tree is not touched.
        {"moderate", Repeat("<div>", MaxBlockDepth - 10) + "<blink2>x</blink2>", MaxBlockDepth - 10,
         "<blink2> is not recognized!"},
    };
    for (const auto &[name, html, minElements, note] : cases) {
        SCOPED_TRACE(name);
        const Parsed o = ParseKeeping(html);
        ASSERT_NE(o.doc->root(), nullptr);
        size_t elements = 0;
        EXPECT_LE(Walk(o.doc->root(), elements), MaxBlockDepth);
        EXPECT_GE(elements, minElements);
        EXPECT_TRUE(Mentions(o.messages, note));
        if (html != nested)
            continue;
        // Flattening keeps document order: the anchor, then its text (lifted
        // out of it, being past the limit), close the document.
        const std::string dump = Dump(o.doc->root());
        const size_t anchor = dump.find("E:a#0@1 href=deep.html\n/\nT:bottom\n");
        ASSERT_NE(anchor, std::string::npos);
        EXPECT_EQ(dump.find("E:", anchor + 1), std::string::npos);
    }
}

TEST(HtmlRobustness, AttributeFloodsParseInLinearTime)
{
    // One element with 50000 attributes, one a line (lines 2 to 50002), then
    // 2000 elements with 300 attributes each. The note names the line of the
    // first element cut and what was left out.
    const std::string page = "<html><body>\n<a href=\"kept.html\"" + Attributes(50000, "\n")
                             + ">link</a>\n"
                             + Repeat("<span" + Attributes(300, " ") + ">s</span>\n", 2000)
                             + "<p id=after>end</p></body></html>\n";
    const auto start = std::chrono::steady_clock::now();
    const Parsed o = ParseKeeping(page);
    // The time is the behaviour: these took minutes; a generous bound for a
    // loaded machine (and sanitizers).
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_STREQ(HTMLGetAttr(FindElement(o.doc->root(), "a"), "href"), "kept.html");
    // Cut lines still count, so what follows keeps its line.
    EXPECT_EQ(BlockLine(FindElement(o.doc->root(), "p")), 52003);
    const std::string note = "2:1:Elements with more than 128 attributes were cut to their first "
                             "128 (393873 attributes of 2001 elements left out)\n";
    EXPECT_NE(Listed(o.messages).find(note), std::string::npos) << Listed(o.messages);
}

TEST(HtmlRobustness, OnlyWhatIsPastTheAttributeCapIsCut)
{
    // What a text is cut to ("" when nothing is cut) and how many attributes go.
    const std::tuple<const char *, std::string, std::string, size_t> cases[] = {
        {"as many as the cap", "<a b c=1 d>", "", 0},
        {"values that hold > and blanks", "<a b='x > y' c=\"1 2\" d e f\ng>t</a>",
         "<a b='x > y' c=\"1 2\" d \n>t</a>", 3},
        {"valueless and unquoted", "<p\n a\n b = c\n d\n e/>", "<p\n a\n b = c\n d\n >", 1},
        {"script and style text", "<script>x<y a b c d e f>z</script><style>p<q a b c d e></style>",
         "", 0},
        {"comments and end tags", "<!-- <a b c d e f> --></a b c d e f>", "", 0},
        {"an unclosed last tag", "<a b c d e f", "<a b c d ", 2},
        {"UTF-16LE with a mark, a surrogate pair and a stray one",
         Utf16("<a b c d e f>", true, true) + std::string("\xE9\0\x3D\xD8\0\xDE\0\xD8", 8),
         "\xEF\xBB\xBF<a b c d >\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD", 2},
        {"UTF-16BE without a mark, within the cap", Utf16("<a b c d>text</a>", false, false), "",
         0},
    };
    for (const auto &[title, text, expected, dropped] : cases) {
        std::string out;
        AttributeCut cut;
        const bool cutAny = CutAttributes(text, 3, out, cut);
        EXPECT_EQ(std::tuple(cutAny, out, cut.dropped),
                  std::tuple(!expected.empty(), expected, dropped))
            << title;
    }
}
