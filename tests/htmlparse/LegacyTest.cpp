// Parsing from a file: ParseStream and the classic one-parse-per-thread
// entry points.

#include "ParseHelpers.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace sylvix::html;
using namespace sylvix::html::test;

namespace {

std::vector<Error> g_received;

int Collect(const Error *e)
{
    g_received.push_back(*e);
    return 1;
}

// The classic order: open in text mode, begin, read, end, close.
Block *ParseFile(const std::string &path)
{
    g_received.clear();
    FILE *f = std::fopen(path.c_str(), "r");
    HTMLParseBegin();
    HTMLParseDo(f);
    Block *root = HTMLParseEnd();
    if (f != nullptr)
        std::fclose(f);
    return root;
}

} // namespace

TEST(HtmlLegacy, ClassicEntryPointsParseAsParseStreamDoes)
{
    sylvix::test::TempDir dir;
    HTMLSetErrorHand(Collect);
    Block *root = ParseFile(dir.write("a.html", "<html><body><a href=\"one.html\">one</a>\n"
                                                "<blink2>?</blink2>\n<a href=two.html>2</a>\n"));
    EXPECT_STREQ(HTMLGetAttr(FindElement(root, "a", 1), "href"), "two.html");
    // Messages came through the handler during the parse. ParseStream reads
    // the same file to the same tree and messages.
    EXPECT_TRUE(Mentions(g_received, "<blink2> is not recognized!"));
    std::vector<Error> fromStream;
    FILE *f = std::fopen((dir / "a.html").c_str(), "r");
    auto doc = ParseStream(f, [&](const Error &e) {
        fromStream.push_back(e);
        return 1;
    });
    std::fclose(f);
    EXPECT_EQ(Dump(doc->root()) + Listed(fromStream), Dump(root) + Listed(g_received));
    HTMLFreeTree(root);

    // A file that could not be opened arrives as a null stream; an empty
    // one has no root. Neither leaves anything behind for the next parse.
    const std::pair<std::string, std::string> failures[] = {
        {"/nonexistent/dir/page.html", "0:2:The document could not be opened for reading\n"},
        {dir.write("empty.html", ""), "0:1:The document is empty\n"},
    };
    for (const auto &[path, message] : failures) {
        EXPECT_EQ(ParseFile(path), nullptr);
        EXPECT_EQ(Listed(g_received), message);
        HTMLFreeTree(nullptr);
    }
    HTMLSetErrorHand(nullptr);
}
