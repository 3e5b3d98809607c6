// Parsing on worker threads, ahead of the walk or behind it (the markup
// check), gives every node exactly what parsing at expansion gives.

#include "ModelFixture.h"

#include "model/Expand.h"
#include "model/ParseAhead.h"
#include "model/Resolve.h"
#include "model/Walk.h"

#include <chrono>
#include <random>
#include <thread>

using namespace sylvix;
using namespace sylvix::test;

namespace {

std::string messagesOf(SiteNode *n)
{
    std::string s;
    if (n->diagnostics)
        for (const auto &d : *n->diagnostics)
            s += std::to_string(d.line) + ":" + std::to_string(d.level) + ":" + d.message + ";";
    return s;
}

class ParseAheadWalk : public ServerFixture
{
protected:
    void makeSite()
    {
        std::mt19937 rng(5);
        for (int i = 0; i < 60; ++i) {
            std::string body = "<html><head><title>T" + std::to_string(i) + "</title></head><body>";
            for (int k = 0; k < 6; ++k)
                body += "<a href=\"p" + std::to_string(rng() % 60) + ".html\">x</a>";
            if (i % 3 == 0)
                body += "<p><b>bad <i>nesting</b></i><table><tr><td>cell</table><font "
                        "color=red>old</font>";
            if (i % 5 == 0)
                body += "<img src=nope.gif><div></span></div>";
            body += "</body></html>";
            doc("p" + std::to_string(i) + ".html", body);
        }
    }

    std::string walk(ParseAhead *ahead)
    {
        InstallParseAhead(ahead);
        SiteNode *root = CreateRootNode("http://localhost/p0.html");
        std::string out;
        WalkOptions w;
        w.ahead = ahead;
        w.visit = [&](SiteNode *n, int depth) {
            out += std::to_string(depth) + " " + n->url.str() + " " + n->title.str() + " "
                   + messagesOf(n) + "\n";
            return true;
        };
        WalkWholeTree(root, w);
        FreeNode(root);
        InstallParseAhead(nullptr);
        return out;
    }
};

} // namespace

TEST_F(ParseAheadWalk, WorkersChangeNothingThatCanBeRead)
{
    makeSite();
    std::string alone = walk(nullptr);
    ASSERT_NE(alone.find("T0"), std::string::npos);
    ASSERT_NE(alone.find(";"), std::string::npos); // some pages have messages
    for (unsigned jobs : {1u, 3u}) {
        ParseAhead ahead(jobs);
        EXPECT_EQ(walk(&ahead), alone) << jobs << " workers";
        auto st = ahead.stats();
        EXPECT_GT(st.checksLater + st.hits, 0u);
    }
}

TEST_F(ParseAheadWalk, PromisedMessagesOutliveTheWorkers)
{
    makeSite();
    std::string expected;
    {
        SiteNode *root = CreateRootNode("http://localhost/p0.html");
        expected = messagesOf(root);
        FreeNode(root);
    }
    ASSERT_FALSE(expected.empty());
    SiteNode *root = nullptr;
    {
        ParseAhead ahead(1);
        InstallParseAhead(&ahead);
        root = CreateRootNode("http://localhost/p0.html");
        InstallParseAhead(nullptr);
    } // workers gone: what they owed is made before they go
    EXPECT_EQ(messagesOf(root), expected);
    FreeNode(root);
}

TEST_F(ParseAheadWalk, AChangedFileIsParsedAgainNotTakenFromTheWorkers)
{
    std::string page = doc("a.html", "<title>old</title>");
    FileStatus old;
    ASSERT_TRUE(StatFile(page.c_str(), old));
    ParseAhead ahead(1);
    ahead.request({page});
    // Wait until the worker has it.
    for (int i = 0; i < 500 && ahead.stats().parsed == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    FileStatus changed = old;
    changed.mtime += 10;
    EXPECT_FALSE(ahead.take(page, changed)); // not the file the walk resolved
    ahead.request({page});
    for (int i = 0; i < 500 && ahead.stats().parsed < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    auto got = ahead.take(page, old);
    ASSERT_TRUE(got);
    ASSERT_EQ(got->events.size(), 1u);
    EXPECT_EQ(got->events[0].label.value_or(""), "old");
}
