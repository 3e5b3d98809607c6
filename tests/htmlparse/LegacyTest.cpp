// Parsing from a file: ParseStream and the classic one-parse-per-thread
// entry points.

#include "ParseHelpers.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

using namespace sylvix::html;
using namespace sylvix::html::test;

namespace {

thread_local std::vector<Error> t_received;

int Collect(const Error *e)
{
    t_received.push_back(*e);
    return 1;
}

int Other(const Error *)
{
    return 1;
}

// The classic order: open in text mode, begin, read, end, close.
Block *ParseFile(const std::string &path)
{
    t_received.clear();
    FILE *f = std::fopen(path.c_str(), "r");
    HTMLParseBegin();
    HTMLParseDo(f);
    Block *root = HTMLParseEnd();
    if (f != nullptr)
        std::fclose(f);
    return root;
}

std::string Hrefs(const Block *root)
{
    std::string out;
    for (int i = 0; const Block *b = FindElement(root, "a", i); ++i)
        out += std::string(HTMLGetAttr(b, "href")) + " ";
    return out;
}

} // namespace

TEST(HtmlLegacy, ParsesOneDocumentAfterAnother)
{
    sylvix::test::TempDir dir;
    EXPECT_EQ(HTMLSetErrorHand(Other), nullptr);
    EXPECT_EQ(HTMLSetErrorHand(Collect), Other);

    Block *root = ParseFile(dir.write("a.html", "<html><body><a href=\"one.html\">one</a>\n"
                                                "<blink2>?</blink2>\n<a href=two.html>2</a>\n"));
    EXPECT_EQ(Hrefs(root), "one.html two.html ");
    // Messages came through the handler during the parse. ParseStream reads
    // the same file to the same tree and messages.
    EXPECT_TRUE(Mentions(t_received, "<blink2> is not recognized!"));
    std::vector<Error> fromStream;
    FILE *f = std::fopen((dir / "a.html").c_str(), "r");
    auto doc = ParseStream(f, [&](const Error &e) {
        fromStream.push_back(e);
        return 1;
    });
    std::fclose(f);
    EXPECT_EQ(Dump(doc->root()) + Listed(fromStream), Dump(root) + Listed(t_received));
    HTMLFreeTree(root);

    // A file that could not be opened arrives as a null stream; an empty
    // one has no root. Neither leaves anything behind for the next parse.
    const std::pair<std::string, std::string> failures[] = {
        {"/nonexistent/dir/page.html", "0:2:The document could not be opened for reading\n"},
        {dir.write("empty.html", ""), "0:1:The document is empty\n"},
    };
    for (const auto &[path, message] : failures) {
        EXPECT_EQ(ParseFile(path), nullptr);
        EXPECT_EQ(Listed(t_received), message);
        HTMLFreeTree(nullptr);
    }
    t_received.clear();
    EXPECT_EQ(ParseStream(nullptr, [](const Error &e) { return Collect(&e); })->root(), nullptr);
    EXPECT_EQ(t_received.at(0).message, "The document could not be opened for reading");
    root = ParseFile(dir.write("b.html", "<a href=\"three.html\">3</a>"));
    EXPECT_EQ(Hrefs(root), "three.html ");
    HTMLFreeTree(root);

    // The handler belongs to its thread.
    LegacyHandler seenElsewhere = Other;
    std::thread([&] {
        seenElsewhere = HTMLSetErrorHand(Other);
        HTMLSetErrorHand(nullptr);
    }).join();
    EXPECT_EQ(seenElsewhere, nullptr);
    EXPECT_EQ(HTMLSetErrorHand(nullptr), Collect);

    // A tree owned by a Document is left alone by the classic free.
    auto owned = ParseBytes("<a href=\"kept.html\">k</a>", nullptr);
    HTMLFreeTree(const_cast<Block *>(owned->root()));
    EXPECT_EQ(Hrefs(owned->root()), "kept.html ");
}
