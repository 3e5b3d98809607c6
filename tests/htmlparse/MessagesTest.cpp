#include "ParseHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

using namespace sylvix::html;
using namespace sylvix::html::test;

namespace {

// A page with known faults, one kind per line.
const char *const kFaultyPage = "<html>\n"                                    // 1
                                "<head><title>Faults</title></head>\n"        // 2
                                "<body>\n"                                    // 3
                                "<p>fine</p>\n"                               // 4
                                "<blink2>made up</blink2>\n"                  // 5
                                "<img src=\"map.gif\" alt=\"map\" ismap>\n"   // 6
                                "<a href=\"x.html\" width=3>link</a>\n"       // 7
                                "<p>value <font size=2>unquoted</font></p>\n" // 8
                                "<table><tr><td>cell</table>\n"               // 9
                                "</body>\n"                                   // 10
                                "</html>\n";

} // namespace

TEST(HtmlMessages, TextsLevelsAndLineOrder)
{
    // The checker reports the image map warning only at the end of its parse;
    // it is delivered in line order, and equal lines keep their order. Each
    // text is the message alone: no position, level or line break.
    const auto messages = ParseKeeping(kFaultyPage).messages;
    EXPECT_EQ(Listed(messages), "1:1:missing <!DOCTYPE> declaration\n"
                                "5:2:<blink2> is not recognized!\n"
                                "5:1:discarding unexpected <blink2>\n"
                                "5:1:discarding unexpected </blink2>\n"
                                "6:1:<img> should use client-side image map\n"
                                "7:0:value for attribute \"width\" missing quote marks\n"
                                "7:1:<a> proprietary attribute \"width\"\n"
                                "8:0:value for attribute \"size\" missing quote marks\n"
                                "8:1:<font> element removed from HTML5\n");

    // Without the checker: no messages, and the same tree.
    ParseOptions off;
    off.diagnostics = false;
    const Parsed without = ParseKeeping(kFaultyPage, off);
    EXPECT_TRUE(without.messages.empty());
    EXPECT_EQ(Dump(without.doc->root()), Dump(ParseBytes(kFaultyPage, nullptr)->root()));
}

// The parser's own note on a document cut at maxBytes. It outranks the
// checker's messages under the cap, which keeps the earliest and says how
// many more there were.
TEST(HtmlMessages, CutDocumentAndCap)
{
    std::string page = "<html><body>\n";
    while (page.size() < 10000)
        page += "<p><a href=\"page.html\">link</a><blink2>x</blink2></p>\n";
    const std::string cutNote
        = "The document is larger than 4000 bytes; only its first 4000 bytes were read";
    const int cutLine = 1 + static_cast<int>(std::count(page.begin(), page.begin() + 4000, '\n'));
    ParseOptions options;
    options.maxBytes = 4000;
    options.diagnostics = false;
    const Parsed cut = ParseKeeping(page, options);
    EXPECT_EQ(Listed(cut.messages), std::to_string(cutLine) + ":1:" + cutNote + "\n");
    // What was read is parsed.
    EXPECT_TRUE(FindElement(cut.doc->root(), "a", cutLine - 3));
    EXPECT_FALSE(FindElement(cut.doc->root(), "a", cutLine - 1));

    // The two earliest faults, the note on the cut (a later line), then the
    // count; with no room at all, the count alone.
    options.diagnostics = true;
    options.maxMessages = 100000;
    const size_t total = ParseKeeping(page, options).messages.size();
    options.maxMessages = 3;
    const auto messages = ParseKeeping(page, options).messages;
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_LE(messages[1].line, 2);
    EXPECT_EQ(std::tuple(messages[2].message, messages[3].level, messages[3].message),
              std::tuple(cutNote, 3, std::to_string(total - 3) + " more messages were not shown"));
    options.maxMessages = 0;
    const auto none = ParseKeeping(page, options).messages;
    EXPECT_EQ(std::tuple(none.size(), none.at(0).level), std::tuple(size_t{1}, 3));
}

TEST(HtmlMessages, TextsAreUtf8EvenWhenTheCheckerQuotesRawBytes)
{
    // Latin-1 without a declaration; the checker quotes the mangled end tag.
    const auto messages = ParseKeeping("<p>caf\xE9</p>\n</m\xFF\xFF>").messages;
    EXPECT_TRUE(Mentions(messages, "discarding unexpected </\xEF\xBF\xBD>"));
    for (const Error &e : messages)
        for (unsigned char c : e.message)
            EXPECT_NE(c, 0xFF) << e.message;
}
