// The command line and the output texts of sylvix-map, without a process.

#include "cli/MapOptions.h"
#include "cli/MapText.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace sylvix::map;

// Each option's value attached or separate: what a line gives as "machine
// url depth jobs", or why it is refused.
TEST(MapOptions, ValuesAttachedOrSeparateAndBadWordsRefused)
{
    const std::string all = std::to_string(std::max(1u, std::thread::hardware_concurrency()));
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--remote=box", "http://localhost/"}, "box http://localhost/ 2 " + all},
        {{"-r", "box", "-d3"}, "box  3 " + all},
        {{"-rbox", "--depth=7", "-j2", "u"}, "box u 7 2"},
        {{"u", "--jobs", "5"}, " u 2 5"},
        {{"--", "-rnot-an-option"}, " -rnot-an-option 2 " + all},
        {{"-r"}, "No remote server registry supplied for -r switch"},
        {{"--depth"}, "--depth needs a number"},
        {{"--depth=3x"}, "--depth needs a number from 1 up, not '3x'"},
        {{"-j", "999"}, "--jobs needs a number from 1 to 256, not '999'"},
        {{"--format", "xml"}, "--format takes tree, json, csv, sarif or summary, not 'xml'"},
        {{"-wz"}, "unknown option '-z'"},
        {{"a", "b"}, "only one URL, please"},
    };
    for (auto [words, expected] : cases) {
        words.insert(words.begin(), "sylvix-map");
        std::vector<char *> argv;
        for (std::string &w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        Options o;
        std::string error;
        if (ParseOptions(static_cast<int>(words.size()), argv.data(), o, error) == ParseResult::Run)
            error = o.machine + " " + o.url + " " + std::to_string(o.depth) + " "
                    + std::to_string(o.jobs);
        EXPECT_EQ(error, expected);
    }
}

TEST(MapText, ControlsAndBadBytesAreEscapedTheSameWayEveryTime)
{
    struct Case
    {
        std::string in, safe, json;
    };
    const Case cases[] = {
        {"plain é", "plain é", "\"plain é\""},
        {"a\nb\tc\x1b[2J", "a\\x0ab\\x09c\\x1b[2J", "\"a\\nb\\tc\\u001b[2J\""},
        {"\x7f\xc2\x9b", "\\x7f\\u009b", "\"\\u007f\\u009b\""},
        {"\xff\"\\", "\\xff\"\\", "\"\\ufffd\\\"\\\\\""},
        // Overlong, surrogate: byte by byte.
        {"\xc0\xaf", "\\xc0\\xaf", "\"\\ufffd\\ufffd\""},
        {"\xed\xa0\x80", "\\xed\\xa0\\x80", "\"\\ufffd\\ufffd\\ufffd\""},
        {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(SafeText(c.in), c.safe);
        std::string json;
        AppendJsonString(json, c.in);
        EXPECT_EQ(json, c.json);
    }
    std::string csv;
    AppendCsvField(csv, "a,\"b\"\r\n");
    EXPECT_EQ(csv, "\"a,\"\"b\"\"\\x0d\\x0a\"");
}
