#include "htmlparse/HtmlParse.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace sylvix::html;

namespace {

struct Outcome
{
    std::unique_ptr<Document> doc;
    std::vector<Error> messages;
};

Outcome RunParse(std::string_view bytes, ParseOptions options = {})
{
    Outcome out;
    out.doc = ParseBytes(
        bytes,
        [&out](const Error &e) {
            out.messages.push_back(e);
            return 1;
        },
        options);
    return out;
}

bool Mentions(const std::vector<Error> &messages, const std::string &part)
{
    for (const Error &e : messages)
        if (e.message.find(part) != std::string::npos)
            return true;
    return false;
}

// Depth of the block tree, measured without recursion so that a failure
// shows as a number rather than a crash.
int TreeDepth(const Block *root)
{
    int best = 0;
    std::vector<std::pair<const Block *, int>> stack;
    for (const Block *b = root; b != nullptr; b = BlockNext(b))
        stack.emplace_back(b, 1);
    while (!stack.empty()) {
        auto [b, depth] = stack.back();
        stack.pop_back();
        best = std::max(best, depth);
        for (const Block *c = BlockFirstChild(b); c != nullptr; c = BlockNext(c))
            stack.emplace_back(c, depth + 1);
    }
    return best;
}

// What a consumer does: recurse over the blocks.
void CountRecursively(const Block *b, size_t &elements, std::string &text)
{
    for (; b != nullptr; b = BlockNext(b)) {
        if (BlockTypeOf(b) == Text) {
            text += BlockText(b);
        } else {
            ++elements;
            CountRecursively(BlockFirstChild(b), elements, text);
        }
    }
}

// Serialises a tree and its messages so two parses can be compared.
void Dump(const Block *b, std::string &out)
{
    for (; b != nullptr; b = BlockNext(b)) {
        if (BlockTypeOf(b) == Text) {
            out += "T:" + std::string(BlockText(b)) + "\n";
            continue;
        }
        out += "E:" + std::string(BlockName(b)) + "#" + std::to_string(BlockTag(b)) + "@"
               + std::to_string(BlockLine(b));
        for (const char *attr : {"href", "src", "alt", "ISMAP", "action", "type", "value"})
            if (const char *v = HTMLGetAttr(b, attr))
                out += std::string(" ") + attr + "=" + v;
        out += "\n";
        Dump(BlockFirstChild(b), out);
        out += "/\n";
    }
}

std::string Fingerprint(const std::string &html)
{
    Outcome o = RunParse(html);
    std::string out;
    Dump(o.doc->root(), out);
    for (const Error &e : o.messages)
        out += std::to_string(e.line) + ":" + std::to_string(e.level) + ":" + e.message + "\n";
    return out;
}

std::string GeneratedPage(int seed, size_t bytes)
{
    std::mt19937 rng(seed);
    std::string page
        = "<html><head><title>Page " + std::to_string(seed) + "</title></head><body>\n";
    int n = 0;
    while (page.size() < bytes) {
        switch (rng() % 6) {
        case 0:
            page += "<p>Text <a href=\"p" + std::to_string(n) + ".html\">link " + std::to_string(n)
                    + "</a> more &amp; more\n";
            break;
        case 1: page += "<img src=\"i" + std::to_string(n) + ".gif\" alt=\"pic\" ismap>\n"; break;
        case 2: page += "<table><tr><td>cell<td><font size=2>x</table>\n"; break;
        case 3:
            page += "<form action=\"/cgi-bin/f" + std::to_string(n)
                    + "\"><input type=submit value=Send></form>\n";
            break;
        case 4: page += "<ul><li>one<li><b>two</ul><blink2>odd</blink2>\n"; break;
        default: page += "<div><span>plain</span></div>\n"; break;
        }
        ++n;
    }
    return page + "</body></html>\n";
}

} // namespace

TEST(HtmlRobustness, CheckerThatCannotFinishIsStopped)
{
    // libtidy 5.6 never returns from this one by itself.
    const std::string page = "<html><body>\n<p>before\n<tr><dl></table>\n<p>after</p>\n"
                             "<a href=\"still.html\">found</a></body></html>\n";
    Outcome o = RunParse(page);
    EXPECT_TRUE(Mentions(o.messages, "Markup checks stopped here"));
    std::string dump;
    Dump(o.doc->root(), dump);
    EXPECT_NE(dump.find("href=still.html"), std::string::npos);
    // Capped as usual, with the note kept.
    EXPECT_LE(o.messages.size(), ParseOptions{}.maxMessages + 2);
}

TEST(HtmlRobustness, HugePage)
{
    std::string page = "<html><head><title>Big</title></head><body>\n";
    const std::string row = "<p>Row of text with <a href=\"target.html\">a link</a> in it.</p>\n";
    size_t anchors = 0;
    while (page.size() < CheckMaxBytes + (1u << 20)) { // just past the checker's limit
        page += row;
        ++anchors;
    }
    page += "</body></html>\n";

    Outcome o = RunParse(page);
    ASSERT_NE(o.doc->root(), nullptr);
    // Nothing is lost: every link is in the tree.
    size_t found = 0;
    std::vector<const Block *> stack{o.doc->root()};
    while (!stack.empty()) {
        const Block *b = stack.back();
        stack.pop_back();
        for (; b != nullptr; b = BlockNext(b)) {
            if (BlockTag(b) == TagAnchor && HTMLGetAttr(b, "href") != nullptr)
                ++found;
            if (const Block *c = BlockFirstChild(b))
                stack.push_back(c);
        }
    }
    EXPECT_EQ(found, anchors);
    EXPECT_TRUE(
        Mentions(o.messages, "Markup checks were skipped: the document is larger than 16 MB"));

    // Over maxBytes it is cut, and says so.
    ParseOptions small;
    small.maxBytes = 1u << 20;
    Outcome cut = RunParse(page, small);
    EXPECT_TRUE(Mentions(cut.messages, "only its first 1 MB were read"));
}

TEST(HtmlRobustness, DeepNesting)
{
    constexpr int kDepth = 100000;
    struct Case
    {
        const char *name;
        std::string html;
        size_t minElements;
    };
    std::string nested, unclosed, strays;
    for (int i = 0; i < kDepth; ++i)
        nested += "<div>";
    nested += "<a href=\"deep.html\">bottom</a>";
    for (int i = 0; i < kDepth; ++i)
        nested += "</div>";
    for (int i = 0; i < kDepth; ++i)
        unclosed += "<b><i>";
    unclosed += "end";
    // Unclosed elements then stray end tags: libxml2 scans its whole stack
    // for each one.
    for (int i = 0; i < 30000; ++i)
        strays += "<div>";
    for (int i = 0; i < 200000; ++i)
        strays += "</span>";
    const Case cases[] = {
        {"nested", nested, kDepth},
        {"unclosed", unclosed, 2 * kDepth},
        {"stray end tags", strays, 30000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Outcome o = RunParse(c.html);
        ASSERT_NE(o.doc->root(), nullptr);
        EXPECT_LE(TreeDepth(o.doc->root()), MaxBlockDepth);
        size_t elements = 0;
        std::string text;
        CountRecursively(o.doc->root(), elements, text);
        EXPECT_GE(elements, c.minElements);
        EXPECT_TRUE(Mentions(o.messages, "Markup checks were skipped: elements are nested"));
    }
    // Flattening keeps document order: the anchor, then its text (lifted
    // out of it, being past the limit), close the document.
    Outcome o = RunParse(nested);
    std::string dump;
    Dump(o.doc->root(), dump);
    const size_t anchor = dump.find("E:a#0@1 href=deep.html\n/\nT:bottom\n");
    ASSERT_NE(anchor, std::string::npos);
    EXPECT_EQ(dump.find("E:", anchor + 1), std::string::npos);

    Outcome s = RunParse(strays);
    EXPECT_TRUE(Mentions(s.messages, "Reading stopped here"));
}

TEST(HtmlRobustness, ModerateNestingIsCheckedAndKept)
{
    // Just inside every limit: the checker runs and the tree is not touched.
    std::string html;
    for (int i = 0; i < MaxBlockDepth - 10; ++i)
        html += "<div>";
    html += "<blink2>x</blink2>";
    Outcome o = RunParse(html);
    EXPECT_FALSE(Mentions(o.messages, "skipped"));
    EXPECT_TRUE(Mentions(o.messages, "<blink2> is not recognized!"));
    EXPECT_GE(TreeDepth(o.doc->root()), MaxBlockDepth - 10);
}

TEST(HtmlRobustness, ParseStream)
{
    std::FILE *f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    const std::string page = GeneratedPage(7, 200000);
    std::fwrite(page.data(), 1, page.size(), f);
    std::rewind(f);
    std::vector<Error> fromStream;
    auto doc = ParseStream(f, [&](const Error &e) {
        fromStream.push_back(e);
        return 1;
    });
    std::fclose(f);
    std::string a, b;
    Dump(doc->root(), a);
    Outcome direct = RunParse(page);
    Dump(direct.doc->root(), b);
    EXPECT_EQ(a, b);
    EXPECT_EQ(fromStream.size(), direct.messages.size());

    std::vector<Error> noStream;
    auto none = ParseStream(nullptr, [&](const Error &e) {
        noStream.push_back(e);
        return 1;
    });
    EXPECT_EQ(none->root(), nullptr);
    EXPECT_TRUE(Mentions(noStream, "could not be opened"));
}

TEST(HtmlRobustness, ThreadsGiveTheSameResultsAsOne)
{
    std::vector<std::string> pages;
    for (int i = 0; i < 8; ++i)
        pages.push_back(GeneratedPage(i, 20000 + 3000 * i));
    pages.push_back("<tr><dl></table>"); // the checker's runaway case, too
    std::vector<std::string> expected;
    for (const std::string &p : pages)
        expected.push_back(Fingerprint(p));

    constexpr int kThreads = 4;
    constexpr int kRounds = 5;
    std::vector<std::vector<std::string>> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; ++r)
                for (size_t i = 0; i < pages.size(); ++i) {
                    const size_t k = (i + t) % pages.size(); // different documents at once
                    results[t].push_back(std::to_string(k) + "|" + Fingerprint(pages[k]));
                }
        });
    }
    for (std::thread &t : threads)
        t.join();
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(results[t].size(), kRounds * pages.size());
        for (const std::string &r : results[t]) {
            const size_t bar = r.find('|');
            const size_t k = std::stoul(r.substr(0, bar));
            EXPECT_EQ(r.substr(bar + 1), expected[k]) << "thread " << t << " page " << k;
        }
    }
}
