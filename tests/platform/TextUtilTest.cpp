#include "platform/TextUtil.h"

#include <gtest/gtest.h>

#include <climits>
#include <tuple>

using namespace sylvix;

TEST(TextUtil, CaseFoldingIsAsciiOnly)
{
    EXPECT_EQ(toLowerAscii("MiXeD-09_Z\xC3\x84"), "mixed-09_z\xC3\x84"); // Ä stays
    EXPECT_TRUE(equalsNoCase("Content-TYPE", "content-type"));
    EXPECT_FALSE(equalsNoCase("abc", "abcd"));
    EXPECT_FALSE(equalsNoCase("@[", "`{")); // neighbours of the letters do not fold
    EXPECT_TRUE(startsWithNoCase("HTTP/1.0", "http/"));
    EXPECT_FALSE(startsWithNoCase("HT", "http"));
}

TEST(TextUtil, Utf8)
{
    // A text and the length of the sequence at its start (0: not UTF-8).
    const std::pair<std::string, size_t> cases[] = {
        {"a", 1},
        {"\xC3\xA4", 2},
        {"\xE2\x82\xAC", 3},
        {"\xF0\x9F\x98\x80", 4},
        {"\xF4\x8F\xBF\xBF", 4}, // U+10FFFF
        {"\xC0\xAF", 0},         // overlong "/"
        {"\xE0\x80\xAF", 0},     // overlong
        {"\xED\xA0\x80", 0},     // surrogate
        {"\xED\xBF\xBF", 0},     // the last surrogate
        {"\xF4\x90\x80\x80", 0}, // past U+10FFFF
        {"\xE2\x82", 0},         // cut short
        {"\x80", 0},             // continuation alone
        {"\xC3(", 0},
    };
    for (const auto &[text, length] : cases) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_EQ(utf8Length(text, 0), length);
        EXPECT_EQ(isUtf8("ok " + text + " ok"), length == text.size());
    }
    uint32_t cp = 0;
    EXPECT_EQ(decodeUtf8("\xE2\x82\xAC", 0, cp), 3u);
    EXPECT_EQ(cp, 0x20ACu);
}

TEST(TextUtil, NumbersReadAsTheCLibraryDoes)
{
    // A text, the largest value taken, then whether a number was found, its
    // value (7: left alone) and where reading ended.
    const std::tuple<const char *, long long, bool, long long, size_t> cases[] = {
        {"42abc", 1000, true, 42, 2},
        {" \t-17 ", 1000, true, -17, 5},
        {"99999999999999999999999", LLONG_MAX, true, LLONG_MAX, 23},
        {"1234", 100, true, 100, 4}, // clamped, still read to the end
        {"-", 1000, false, 7, 0},
        {"", 1000, false, 7, 0},
    };
    for (const auto &[text, limit, found, value, end] : cases) {
        size_t i = 0;
        long long v = 7;
        const bool read = readCNumber(text, i, limit, v);
        EXPECT_EQ(std::tuple(read, v, i), std::tuple(found, value, end)) << text;
    }
}
