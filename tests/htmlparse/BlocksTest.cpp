#include "ParseHelpers.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using namespace sylvix::html;
using namespace sylvix::html::test;

namespace {

std::unique_ptr<Document> Parse(const std::string &html)
{
    ParseOptions options;
    options.diagnostics = false;
    return ParseBytes(html, nullptr, options);
}

// The texts below a block joined, as the link extraction collects labels.
std::string TextOf(const Block *b)
{
    std::string out;
    for (const Block *c = BlockFirstChild(b); c != nullptr; c = BlockNext(c))
        out += BlockTypeOf(c) == Text ? std::string(BlockText(c)) : TextOf(c);
    return out;
}

} // namespace

TEST(HtmlBlocks, TagsAndAttributes)
{
    auto doc
        = Parse("<head><base href=\"http://host/dir/\"></head><A HREF=\"Page.HTML\">x</A>"
                "<a href>y</a><a name=top>z</a><form action=\"/cgi-bin/send\" METHOD=POST>"
                "<input type=submit value=\"Go on\"></form><img src=\"a.gif\" ISMAP>"
                "<img src=\"b.gif\"><image src=\"old.gif\"><blink2 href=\"u.html\">x</blink2>");
    // The nth element of a name, its tag, and one attribute's value (null: absent).
    const std::tuple<const char *, int, int, const char *, const char *> cases[] = {
        {"a", 0, TagAnchor, "href", "Page.HTML"},
        {"a", 0, TagAnchor, "hReF", "Page.HTML"},
        {"a", 1, TagAnchor, "href", ""},
        {"a", 2, TagAnchor, "href", nullptr},
        {"base", 0, TagBase, "href", "http://host/dir/"},
        {"form", 0, TagForm, "method", "POST"},
        {"input", 0, TagInput, "value", "Go on"},
        {"img", 0, TagImg, "ismap", ""},
        {"img", 1, TagImg, "ISMAP", nullptr},
        {"image", 0, TagImage, "src", "old.gif"},
        {"blink2", 0, OtherTag, "href", "u.html"},
    };
    for (const auto &[element, nth, tag, attr, expected] : cases) {
        SCOPED_TRACE(std::string(element) + " " + attr);
        const Block *b = FindElement(doc->root(), element, nth);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(std::tuple(BlockTypeOf(b), BlockTag(b)), std::tuple(int{Element}, tag));
        EXPECT_STREQ(HTMLGetAttr(b, attr), expected);
    }
}

TEST(HtmlBlocks, CommentsAreNotBlocks)
{
    // Walking skips comments and processing instructions wherever they
    // are: inside a label, between elements, around the root.
    EXPECT_EQ(TextOf(FindElement(
                  Parse("<a href=x>be<!-- not this -->fore<?pi x?>after</a>")->root(), "a")),
              "beforeafter");
    auto doc = Parse("<!-- before --><!DOCTYPE html><html><body><!--a--><p>one</p><!--b-->"
                     "<p>two</p><!--c--></body></html><!-- after -->");
    EXPECT_STREQ(BlockName(doc->root()), "html");
    EXPECT_EQ(BlockNext(doc->root()), nullptr);
    const Block *first = BlockFirstChild(FindElement(doc->root(), "body"));
    EXPECT_STREQ(BlockName(first), "p");
    EXPECT_STREQ(BlockText(BlockFirstChild(BlockNext(first))), "two");
    EXPECT_EQ(BlockNext(BlockNext(first)), nullptr);
}

TEST(HtmlBlocks, SourceLines)
{
    auto doc = Parse("<html>\n<body>\n<p>one\n\n<a href=x>two</a>\r\n<img\nsrc=y>\n");
    EXPECT_EQ(BlockLine(FindElement(doc->root(), "a")), 5);
    // A start tag over several lines counts where it ends.
    EXPECT_EQ(BlockLine(FindElement(doc->root(), "img")), 7);

    // Old Macintosh files end lines with a bare CR.
    doc = Parse("<html>\r<body>\r<p>x\r<a href=y>z</a>\r");
    EXPECT_EQ(BlockLine(FindElement(doc->root(), "a")), 4);
}

TEST(HtmlBlocks, EncodingsEndInUtf8)
{
    // A page and the text of its first p.
    const std::pair<std::string, const char *> cases[] = {
        {"<meta charset=\"windows-1252\"><p>\x93quoted\x94 \x80</p>",
         "\xE2\x80\x9Cquoted\xE2\x80\x9D \xE2\x82\xAC"},
        // Undeclared and not UTF-8: read as Latin-1.
        {"<p>na\xEFve \xE9t\xE9</p>", "na\xC3\xAFve \xC3\xA9t\xC3\xA9"},
        {std::string("\xFF\xFE<\0p\0>\0\xE9\0<\0/\0p\0>\0", 18), "\xC3\xA9"},
        // libxml2 loses half a character where it switches to Latin-1 right
        // after a bare "&"; what is left of it is replaced.
        {"<p>Smith &\xC9mile \xE9t\xE9</p>", "Smith &?mile \xC3\xA9t\xC3\xA9"},
    };
    for (const auto &[html, text] : cases)
        EXPECT_EQ(TextOf(FindElement(Parse(html)->root(), "p")), text);
}
