// Parsing on worker threads, ahead of the walk or behind it (the markup
// check), parsing whole the pages they never began, and checking markup
// when a page is first read rather than at once, give every node exactly
// what parsing at expansion gives.

#include "ModelFixture.h"
#include "tests/support/Wait.h"

#include "model/Page.h"
#include "model/ParseAhead.h"
#include "model/Resolve.h"
#include "model/Walk.h"

#include <optional>
#include <random>

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

    // The walk, with a parse-ahead of jobs workers when given, printed once
    // they are gone, so that what they still owed must have been made before
    // they went.
    std::string walk(std::optional<unsigned> jobs = std::nullopt, bool missesWhole = false)
    {
        m_pending = 0;
        std::optional<ParseAhead> ahead;
        if (jobs) {
            ahead.emplace(*jobs);
            ahead->setParseMissesWhole(missesWhole);
        }
        InstallParseAhead(ahead ? &*ahead : nullptr);
        SiteNode *root = CreateRootNode("http://localhost/p0.html");
        std::vector<std::pair<SiteNode *, int>> seen;
        WalkOptions w;
        w.ahead = ahead ? &*ahead : nullptr;
        w.visit = [&](SiteNode *n, int depth) {
            m_pending += n->diagnostics.pending();
            seen.push_back({n, depth});
            return true;
        };
        WalkWholeTree(root, w);
        InstallParseAhead(nullptr);
        if (ahead)
            m_stats = ahead->stats();
        ahead.reset();
        std::string out;
        for (const auto &[n, depth] : seen)
            out += std::to_string(depth) + " " + n->url.str() + " " + n->title.str() + " "
                   + messagesOf(n) + "\n";
        FreeNode(root);
        return out;
    }
    void TearDown() override
    {
        SetMarkupChecks(MarkupChecks::AtOnce);
        ServerFixture::TearDown();
    }

    int m_pending = 0; // pages whose check was still to come when the walk met them
    ParseAhead::Stats m_stats;
};

} // namespace

TEST_F(ParseAheadWalk, WorkersChangeNothingThatCanBeRead)
{
    makeSite();
    std::string alone = walk();
    ASSERT_NE(alone.find("T0"), std::string::npos);
    ASSERT_NE(alone.find(";"), std::string::npos); // some pages have messages
    EXPECT_EQ(m_pending, 0);
    for (unsigned jobs : {1u, 3u}) {
        EXPECT_EQ(walk(jobs), alone) << jobs << " workers";
        EXPECT_GT(m_stats.checksLater + m_stats.hits, 0u);
    }
    // With no workers every page is a miss, its check made at once; parsed
    // whole, no check is asked for at all.
    EXPECT_EQ(walk(0u), alone);
    EXPECT_EQ(walk(0u, true), alone);
    EXPECT_EQ(m_pending, 0);
    EXPECT_EQ(m_stats.checksAtOnce + m_stats.checksLater, 0u);
    // Checked when first read, every page's messages are the same as well.
    SetMarkupChecks(MarkupChecks::OnFirstRead);
    EXPECT_EQ(walk(), alone);
    EXPECT_GT(m_pending, 0);
}

TEST_F(ParseAheadWalk, AChangedFileIsParsedAgainNotTakenFromTheWorkers)
{
    std::string page = doc("a.html", "<title>old</title>");
    FileStatus old;
    ASSERT_TRUE(StatFile(page.c_str(), old));
    ParseAhead ahead(1);
    ahead.request({page});
    ASSERT_TRUE(eventually([&] { return ahead.stats().parsed > 0; }));
    FileStatus changed = old;
    changed.mtime += 10;
    EXPECT_FALSE(ahead.take(page, changed)); // not the file the walk resolved
    ahead.request({page});
    ASSERT_TRUE(eventually([&] { return ahead.stats().parsed >= 2; }));
    auto got = ahead.take(page, old);
    ASSERT_TRUE(got);
    ASSERT_EQ(got->events.size(), 1u);
    EXPECT_EQ(got->events[0].label.value_or(""), "old");
}

// Two saves within one second: the second still counts as a change, and a
// check wanted after it does not report on bytes that were never parsed.
TEST_F(ParseAheadWalk, AFileChangedBeforeItsCheckIsOutOfDate)
{
    SetMarkupChecks(MarkupChecks::OnFirstRead);
    std::string path = doc("a.html", "<p><b>first version");
    SetMtime(path, 1700000000, 100);
    SiteNode *root = CreateRootNode("http://www.example.org/a.html");
    TreeGuard guard{root};
    ASSERT_TRUE(root->diagnostics.pending());

    doc("a.html", "<table><tr><td>second version, other faults");
    SetMtime(path, 1700000000, 200);
    EXPECT_TRUE(root->diagnostics.outOfDate());
    EXPECT_FALSE(root->hasDiagnostics());

    ASSERT_EQ(NeedsReload(root), ReloadResult::Expand);
    ExpandNode(root);
    EXPECT_FALSE(root->diagnostics.outOfDate());
    ASSERT_TRUE(root->hasDiagnostics());
    EXPECT_EQ(*root->diagnostics, ParsePageFile(path).diagnostics);
    EXPECT_EQ(NeedsReload(root), ReloadResult::NothingToDo); // nothing changed since
}
