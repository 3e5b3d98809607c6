#include "ParseHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

using namespace sylvix::html;
using namespace sylvix::html::test;

namespace {

bool Has(const std::vector<Error> &messages, int line, int level, const std::string &text)
{
    return std::any_of(messages.begin(), messages.end(), [&](const Error &e) {
        return e.line == line && e.level == level && e.message == text;
    });
}

std::string LinesAndTexts(const std::vector<Error> &messages)
{
    std::string out;
    for (const Error &e : messages)
        out += std::to_string(e.line) + ":" + e.message + "\n";
    return out;
}

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

TEST(HtmlMessages, LevelsTextsAndLineOrder)
{
    const auto messages = ParseKeeping(kFaultyPage).messages;
    EXPECT_TRUE(Has(messages, 1, 1, "missing <!DOCTYPE> declaration"));
    EXPECT_TRUE(Has(messages, 5, 2, "<blink2> is not recognized!"));
    EXPECT_TRUE(Has(messages, 5, 1, "discarding unexpected <blink2>"));
    EXPECT_TRUE(Has(messages, 6, 1, "<img> should use client-side image map"));
    EXPECT_TRUE(Has(messages, 7, 1, "<a> proprietary attribute \"width\""));
    EXPECT_TRUE(Has(messages, 8, 0, "value for attribute \"size\" missing quote marks"));

    // The checker reports the image map warning only at the end of its parse;
    // it is delivered in line order, and equal lines keep their order.
    for (size_t i = 1; i < messages.size(); ++i)
        EXPECT_LE(messages[i - 1].line, messages[i].line) << messages[i].message;
    EXPECT_LT(LinesAndTexts(messages).find("<blink2> is not recognized!"),
              LinesAndTexts(messages).find("discarding unexpected <blink2>"));
    // Each text is the message alone: no position, level or line break.
    const std::regex decorations("line |Warning:|Error:|\n|^$");
    for (const Error &e : messages) {
        EXPECT_FALSE(std::regex_search(e.message, decorations)) << e.message;
        EXPECT_TRUE(e.level >= 0 && e.level <= 3) << e.level;
    }

    // A level filter drops exactly the lower levels.
    for (int minLevel = 1; minLevel <= 3; ++minLevel) {
        SCOPED_TRACE(minLevel);
        ParseOptions options;
        options.minLevel = minLevel;
        std::vector<Error> expected;
        std::copy_if(messages.begin(), messages.end(), std::back_inserter(expected),
                     [&](const Error &e) { return e.level >= minLevel; });
        EXPECT_EQ(LinesAndTexts(ParseKeeping(kFaultyPage, options).messages),
                  LinesAndTexts(expected));
    }

    // Without the checker: no messages, and the same tree.
    ParseOptions off;
    off.diagnostics = false;
    const Parsed without = ParseKeeping(kFaultyPage, off);
    EXPECT_TRUE(without.messages.empty());
    EXPECT_EQ(Fingerprint(without.doc->root(), {}),
              Fingerprint(ParseBytes(kFaultyPage, nullptr)->root(), {}));
}

TEST(HtmlMessages, CapKeepsTheEarliestAndSaysHowManyMore)
{
    std::string page = "<html><body>\n";
    for (int i = 0; i < 300; ++i)
        page += "<p><blink2>x</blink2><font size=" + std::to_string(i) + ">y</font></p>\n";
    page += "</body></html>\n";

    ParseOptions unlimited;
    unlimited.maxMessages = 100000;
    const auto all = ParseKeeping(page, unlimited).messages;
    ASSERT_GT(all.size(), 600u);

    for (size_t cap : {size_t{0}, size_t{1}, size_t{10}, size_t{250}}) {
        SCOPED_TRACE(cap);
        ParseOptions options;
        options.maxMessages = cap;
        const auto kept = ParseKeeping(page, options).messages;
        ASSERT_EQ(kept.size(), cap + 1);
        EXPECT_EQ(LinesAndTexts({kept.begin(), kept.end() - 1}),
                  LinesAndTexts({all.begin(), all.begin() + static_cast<long>(cap)}));
        const Error &last = kept.back();
        EXPECT_EQ(last.level, 3);
        EXPECT_EQ(last.message, std::to_string(all.size() - cap) + " more messages were not shown");
        EXPECT_EQ(last.line, all[cap].line);
    }

    // Exactly at the cap nothing is cut.
    ParseOptions exact;
    exact.maxMessages = all.size();
    EXPECT_EQ(ParseKeeping(page, exact).messages.size(), all.size());
}

// The parser's own notes on the document: empty, or cut at maxBytes. They
// outrank the checker's messages under the cap.
TEST(HtmlMessages, NotesAboutTheDocument)
{
    const Parsed empty = ParseKeeping("");
    EXPECT_EQ(empty.doc->root(), nullptr);
    ASSERT_EQ(empty.messages.size(), 1u);
    EXPECT_EQ(empty.messages[0].message, "The document is empty");
    EXPECT_EQ(ParseKeeping(" \n\t\n ").doc->root(), nullptr);

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
    EXPECT_TRUE(Has(cut.messages, cutLine, 1, cutNote));
    ASSERT_EQ(cut.messages.size(), 1u);
    // What was read is parsed.
    int anchors = 0;
    for (int i = 0; FindElement(cut.doc->root(), "a", i); ++i)
        ++anchors;
    EXPECT_GE(anchors, cutLine - 2);
    EXPECT_LE(anchors, cutLine - 1);

    options.diagnostics = true;
    options.maxMessages = 3;
    const auto messages = ParseKeeping(page, options).messages;
    ASSERT_EQ(messages.size(), 4u);
    // The two earliest faults, the note on the cut (a later line), then the count.
    EXPECT_LE(messages[1].line, 2);
    EXPECT_EQ(messages[2].message, cutNote);
    EXPECT_EQ(messages[3].level, 3);
    EXPECT_NE(messages[3].message.find("more messages were not shown"), std::string::npos);

    options.maxMessages = 0;
    const auto none = ParseKeeping(page, options).messages;
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].level, 3);
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
