#include "htmlparse/HtmlParse.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace sylvix::html;

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

class TempFile
{
public:
    explicit TempFile(const std::string &content)
        : m_path(std::filesystem::temp_directory_path()
                 / ("sylvix_legacy_" + std::to_string(::getpid()) + "_"
                    + std::to_string(std::hash<std::thread::id>{}(std::this_thread::get_id()))
                    + ".html"))
    {
        std::ofstream(m_path, std::ios::binary) << content;
    }
    ~TempFile() { std::filesystem::remove(m_path); }
    std::string path() const { return m_path.string(); }

private:
    std::filesystem::path m_path;
};

// The classic order: open in text mode, set the handler, begin, read, end,
// walk, close, free.
Block *ParseFile(const std::string &path)
{
    FILE *f = std::fopen(path.c_str(), "r");
    HTMLSetErrorHand(Collect);
    HTMLParseBegin();
    HTMLParseDo(f);
    Block *root = HTMLParseEnd();
    if (f != nullptr)
        std::fclose(f);
    return root;
}

std::vector<std::string> Hrefs(const Block *b)
{
    std::vector<std::string> out;
    for (; b != nullptr; b = BlockNext(b)) {
        if (BlockTypeOf(b) != Element)
            continue;
        if (const char *href = HTMLGetAttr(b, "href"))
            out.push_back(href);
        for (const std::string &h : Hrefs(BlockFirstChild(b)))
            out.push_back(h);
    }
    return out;
}

} // namespace

TEST(HtmlLegacy, RoundTrip)
{
    TempFile file("<html><head><title>Old</title><link rel=x href=\"style.css\"></head>\n"
                  "<body><a href=\"one.html\">one</a>\n<blink2>?</blink2>\n"
                  "<map><area href=\"two.html\"></map></body></html>\n");
    t_received.clear();
    EXPECT_EQ(HTMLSetErrorHand(Other), nullptr);
    EXPECT_EQ(HTMLSetErrorHand(Collect), Other);

    Block *root = ParseFile(file.path());
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(BlockName(root), "html");
    EXPECT_EQ(Hrefs(root), (std::vector<std::string>{"style.css", "one.html", "two.html"}));
    // Messages came through the handler during the parse, in line order.
    ASSERT_FALSE(t_received.empty());
    bool unknown = false;
    for (size_t i = 0; i < t_received.size(); ++i) {
        unknown |= t_received[i].line == 3 && t_received[i].level == 2;
        if (i > 0) {
            EXPECT_LE(t_received[i - 1].line, t_received[i].line);
        }
    }
    EXPECT_TRUE(unknown);
    HTMLFreeTree(root);

    // A second document on the same thread starts afresh.
    TempFile second("<a href=\"three.html\">3</a>");
    t_received.clear();
    root = ParseFile(second.path());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(Hrefs(root), std::vector<std::string>{"three.html"});
    HTMLFreeTree(root);
    HTMLSetErrorHand(nullptr);
}

TEST(HtmlLegacy, UnreadableAndEmptyInput)
{
    t_received.clear();
    // A file that could not be opened arrives as a null stream.
    Block *root = ParseFile("/nonexistent/dir/page.html");
    EXPECT_EQ(root, nullptr);
    HTMLFreeTree(root);
    ASSERT_EQ(t_received.size(), 1u);
    EXPECT_EQ(t_received[0].level, 2);
    EXPECT_EQ(t_received[0].message, "The document could not be opened for reading");

    t_received.clear();
    TempFile empty("");
    root = ParseFile(empty.path());
    EXPECT_EQ(root, nullptr);
    HTMLFreeTree(nullptr);
    ASSERT_EQ(t_received.size(), 1u);
    EXPECT_EQ(t_received[0].message, "The document is empty");

    // Neither leaves anything behind for the next parse.
    TempFile page("<a href=\"x.html\">x</a>");
    root = ParseFile(page.path());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(Hrefs(root), std::vector<std::string>{"x.html"});
    HTMLFreeTree(root);
    HTMLSetErrorHand(nullptr);
}

TEST(HtmlLegacy, HandlerBelongsToItsThread)
{
    HTMLSetErrorHand(Collect);
    LegacyHandler seenElsewhere = Other;
    std::thread([&] {
        seenElsewhere = HTMLSetErrorHand(Other);
        HTMLSetErrorHand(nullptr);
    }).join();
    EXPECT_EQ(seenElsewhere, nullptr);
    EXPECT_EQ(HTMLSetErrorHand(nullptr), Collect);
}

TEST(HtmlLegacy, TreeFromParseBytesIsNotFreedByLegacyCall)
{
    auto doc = ParseBytes("<a href=\"kept.html\">k</a>", nullptr);
    // Owned by the Document, so the classic free leaves it alone.
    HTMLFreeTree(const_cast<Block *>(doc->root()));
    EXPECT_EQ(Hrefs(doc->root()), std::vector<std::string>{"kept.html"});
}
