// Pages built to make the parsing libraries take quadratic time.

#include "htmlparse/Bounds.h"
#include "htmlparse/HtmlParse.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace sylvix::html;

namespace {

using Clock = std::chrono::steady_clock;

// The first element named name, in document order.
const Block *Find(const Block *b, const char *name)
{
    std::vector<const Block *> stack{b};
    while (!stack.empty()) {
        const Block *top = stack.back();
        stack.pop_back();
        if (top == nullptr)
            continue;
        if (BlockTypeOf(top) == Element && std::string(BlockName(top)) == name)
            return top;
        stack.push_back(BlockNext(top));
        stack.push_back(BlockFirstChild(top));
    }
    return nullptr;
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

TEST(HtmlHostile, AttributeFloodsParseInLinearTime)
{
    std::string many;
    for (int e = 0; e < 2000; ++e)
        many += "<span" + Attributes(300, " ") + ">s</span>\n";
    const struct Case
    {
        const char *title;
        std::string flood; // fills lines 2 to floodLines + 1
        int floodLines;
        int firstCut; // line of the first element cut
        enum { Utf8, Utf16LeMarked, Utf16Be } encoding = Utf8;
    } cases[] = {
        {"one element with 50000 attributes, one a line",
         "<a href=\"kept.html\"" + Attributes(50000, "\n") + ">link</a>\n", 50001, 2},
        {"one element with 100000 attributes on one line",
         "<a href=\"kept.html\"" + Attributes(100000, " ") + ">link</a>\n", 1, 2},
        {"2000 elements with 300 attributes each", "<a href=\"kept.html\">link</a>\n" + many, 2001,
         3},
        {"50000 attributes, one a line, in UTF-16LE with a mark",
         "<a href=\"kept.html\"" + Attributes(50000, "\n") + ">link</a>\n", 50001, 2,
         Case::Utf16LeMarked},
        {"100000 attributes on one line, in UTF-16BE without one",
         "<a href=\"kept.html\"" + Attributes(100000, " ") + ">link</a>\n", 1, 2, Case::Utf16Be},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.title);
        std::string page = "<html><body>\n" + c.flood + "<p id=after>end</p></body></html>\n";
        if (c.encoding != Case::Utf8)
            page
                = Utf16(page, c.encoding == Case::Utf16LeMarked, c.encoding == Case::Utf16LeMarked);
        std::vector<Error> messages;
        const auto start = Clock::now();
        auto doc = ParseBytes(page, [&](const Error &e) {
            messages.push_back(e);
            return 1;
        });
        // The time is the behaviour: these took minutes; a generous bound
        // for a loaded machine (and sanitizers).
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
        ASSERT_TRUE(doc);
        EXPECT_STREQ(HTMLGetAttr(Find(doc->root(), "a"), "href"), "kept.html");
        // Cut lines still count, so what follows keeps its line.
        const Block *after = Find(doc->root(), "p");
        ASSERT_TRUE(after);
        EXPECT_EQ(BlockLine(after), c.floodLines + 2);
        bool said = false;
        for (const Error &e : messages)
            said = said
                   || (e.line == c.firstCut
                       && e.message.find("more than 128 attributes") != std::string::npos);
        EXPECT_TRUE(said);
    }
}

TEST(HtmlHostile, OnlyWhatIsPastTheCapIsCut)
{
    const struct
    {
        const char *title;
        std::string text;
        std::string expected; // "" when nothing is cut
        size_t dropped;
    } cases[] = {
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
    for (const auto &c : cases) {
        SCOPED_TRACE(c.title);
        std::string out;
        AttributeCut cut;
        EXPECT_EQ(CutAttributes(c.text, 3, out, cut), !c.expected.empty());
        EXPECT_EQ(out, c.expected);
        EXPECT_EQ(cut.dropped, c.dropped);
    }
}

} // namespace
