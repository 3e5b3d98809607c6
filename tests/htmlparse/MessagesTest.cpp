#include "htmlparse/HtmlParse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace sylvix::html;

namespace {

std::vector<Error> MessagesOf(const std::string &html, const ParseOptions &options = {})
{
    std::vector<Error> out;
    ParseBytes(
        html,
        [&out](const Error &e) {
            out.push_back(e);
            return 1;
        },
        options);
    return out;
}

bool Has(const std::vector<Error> &messages, int line, int level, const std::string &text)
{
    return std::any_of(messages.begin(), messages.end(), [&](const Error &e) {
        return e.line == line && e.level == level && e.message == text;
    });
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
    const auto messages = MessagesOf(kFaultyPage);
    ASSERT_FALSE(messages.empty());

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
    const auto notRecognised = std::find_if(messages.begin(), messages.end(), [](const Error &e) {
        return e.message == "<blink2> is not recognized!";
    });
    const auto discarding = std::find_if(messages.begin(), messages.end(), [](const Error &e) {
        return e.message == "discarding unexpected <blink2>";
    });
    EXPECT_LT(notRecognised, discarding);

    for (const Error &e : messages) {
        SCOPED_TRACE(e.message);
        EXPECT_GE(e.level, 0);
        EXPECT_LE(e.level, 3);
        EXPECT_FALSE(e.message.empty());
        EXPECT_EQ(e.message.find("line "), std::string::npos);
        EXPECT_EQ(e.message.find("Warning:"), std::string::npos);
        EXPECT_EQ(e.message.find("Error:"), std::string::npos);
        EXPECT_NE(e.message.back(), '\n');
    }

    // The same bytes give the same messages every time.
    const auto again = MessagesOf(kFaultyPage);
    ASSERT_EQ(again.size(), messages.size());
    for (size_t i = 0; i < messages.size(); ++i)
        EXPECT_EQ(again[i].message, messages[i].message);
}

TEST(HtmlMessages, FilterByLevel)
{
    const auto all = MessagesOf(kFaultyPage);
    for (int minLevel = 0; minLevel <= 3; ++minLevel) {
        SCOPED_TRACE(minLevel);
        ParseOptions options;
        options.minLevel = minLevel;
        const auto kept = MessagesOf(kFaultyPage, options);
        std::vector<Error> expected;
        std::copy_if(all.begin(), all.end(), std::back_inserter(expected),
                     [&](const Error &e) { return e.level >= minLevel; });
        ASSERT_EQ(kept.size(), expected.size());
        for (size_t i = 0; i < kept.size(); ++i) {
            EXPECT_EQ(kept[i].line, expected[i].line);
            EXPECT_EQ(kept[i].message, expected[i].message);
        }
    }
    ParseOptions errorsOnly;
    errorsOnly.minLevel = 2;
    const auto errors = MessagesOf(kFaultyPage, errorsOnly);
    EXPECT_FALSE(errors.empty());
    EXPECT_LT(errors.size(), all.size());
}

TEST(HtmlMessages, CapKeepsTheEarliestAndSaysHowManyMore)
{
    std::string page = "<html><body>\n";
    for (int i = 0; i < 300; ++i)
        page += "<p><blink2>x</blink2><font size=" + std::to_string(i) + ">y</font></p>\n";
    page += "</body></html>\n";

    ParseOptions unlimited;
    unlimited.maxMessages = 100000;
    const auto all = MessagesOf(page, unlimited);
    ASSERT_GT(all.size(), 600u);

    for (size_t cap : {size_t{0}, size_t{1}, size_t{10}, size_t{250}}) {
        SCOPED_TRACE(cap);
        ParseOptions options;
        options.maxMessages = cap;
        const auto kept = MessagesOf(page, options);
        ASSERT_EQ(kept.size(), cap + 1);
        for (size_t i = 0; i < cap; ++i) {
            EXPECT_EQ(kept[i].line, all[i].line);
            EXPECT_EQ(kept[i].message, all[i].message);
        }
        const Error &last = kept.back();
        EXPECT_EQ(last.level, 3);
        EXPECT_EQ(last.message, std::to_string(all.size() - cap) + " more messages were not shown");
        EXPECT_EQ(last.line, all[cap].line);
    }

    // Exactly at the cap nothing is cut.
    ParseOptions exact;
    exact.maxMessages = all.size();
    EXPECT_EQ(MessagesOf(page, exact).size(), all.size());
}

TEST(HtmlMessages, NoCheckerWhenDiagnosticsAreOff)
{
    ParseOptions options;
    options.diagnostics = false;
    EXPECT_TRUE(MessagesOf(kFaultyPage, options).empty());
    // The tree is the same either way.
    auto with = ParseBytes(kFaultyPage, nullptr);
    auto without = ParseBytes(kFaultyPage, nullptr, options);
    ASSERT_NE(with->root(), nullptr);
    ASSERT_NE(without->root(), nullptr);
    EXPECT_STREQ(BlockName(with->root()), BlockName(without->root()));
}

TEST(HtmlMessages, CutAtMaxBytes)
{
    std::string page = "<html><body>\n";
    while (page.size() < 10000)
        page += "<p><a href=\"page.html\">link</a></p>\n";
    ParseOptions options;
    options.maxBytes = 1000;
    options.diagnostics = false;
    std::vector<Error> messages;
    auto doc = ParseBytes(
        page,
        [&](const Error &e) {
            messages.push_back(e);
            return 1;
        },
        options);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].level, 1);
    EXPECT_EQ(messages[0].message,
              "The document is larger than 1000 bytes; only its first 1000 bytes were read");
    EXPECT_EQ(messages[0].line,
              1 + static_cast<int>(std::count(page.begin(), page.begin() + 1000, '\n')));
    // What was read is parsed.
    int anchors = 0;
    for (const Block *p = BlockFirstChild(BlockFirstChild(doc->root())); p; p = BlockNext(p))
        for (const Block *a = BlockFirstChild(p); a; a = BlockNext(a))
            anchors += BlockTag(a) == TagAnchor;
    EXPECT_GT(anchors, 20);
    EXPECT_LT(anchors, 40);
}

TEST(HtmlMessages, EmptyDocument)
{
    std::vector<Error> messages;
    auto doc = ParseBytes("", [&](const Error &e) {
        messages.push_back(e);
        return 1;
    });
    EXPECT_EQ(doc->root(), nullptr);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, "The document is empty");
    EXPECT_EQ(ParseBytes(" \n\t\n ", [](const Error &) { return 1; })->root(), nullptr);
}

TEST(HtmlMessages, NotesAboutTheDocumentOutrankOthersUnderTheCap)
{
    std::string page = "<html><body>\n";
    while (page.size() < 5000)
        page += "<p><blink2>x</blink2></p>\n";
    ParseOptions options;
    options.maxBytes = 4000;
    options.maxMessages = 3;
    const auto messages = MessagesOf(page, options);
    ASSERT_EQ(messages.size(), 4u);
    // The two earliest faults, the note on the cut (a later line), then the count.
    EXPECT_LE(messages[1].line, 2);
    EXPECT_EQ(messages[2].message,
              "The document is larger than 4000 bytes; only its first 4000 bytes were read");
    EXPECT_EQ(messages[3].level, 3);
    EXPECT_NE(messages[3].message.find("more messages were not shown"), std::string::npos);
    for (size_t i = 1; i < messages.size(); ++i)
        EXPECT_LE(messages[i - 1].line, messages[i].line);

    options.maxMessages = 0;
    const auto none = MessagesOf(page, options);
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].level, 3);
}

TEST(HtmlMessages, TextsAreUtf8EvenWhenTheCheckerQuotesRawBytes)
{
    // Latin-1 without a declaration; the checker quotes the mangled end tag.
    const auto messages = MessagesOf("<p>caf\xE9</p>\n</m\xFF\xFF>");
    const auto quoted = std::find_if(messages.begin(), messages.end(), [](const Error &e) {
        return e.message.rfind("discarding unexpected </", 0) == 0;
    });
    ASSERT_NE(quoted, messages.end());
    EXPECT_EQ(quoted->message, "discarding unexpected </\xEF\xBF\xBD>");
    for (const Error &e : messages)
        for (unsigned char c : e.message)
            EXPECT_NE(c, 0xFF) << e.message;
}
