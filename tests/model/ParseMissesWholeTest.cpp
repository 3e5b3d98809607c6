// A page the workers never began is parsed whole by the walk when the
// parse-ahead says so: its messages are there at once, the same as without
// workers, and no check waits on a worker.

#include "ModelFixture.h"

#include "model/ParseAhead.h"
#include "model/Resolve.h"

using namespace sylvix;
using namespace sylvix::test;

using ParseMissesWhole = ServerFixture;

TEST_F(ParseMissesWhole, MessagesAreMadeAtOnceAndMatchAParseWithoutWorkers)
{
    doc("p.html", "<html><head><title>P</title></head><body><b>bad <i>nesting</b></i>"
                  "<a href=\"q.html\">q</a><table><tr><td>cell</table></body></html>");
    auto messages = [](const SiteNode *n) {
        std::vector<std::pair<int32_t, std::string>> out;
        if (n->diagnostics)
            for (const auto &d : *n->diagnostics)
                out.emplace_back(d.line, d.message);
        return out;
    };
    SiteNode *alone = CreateRootNode("http://localhost/p.html");
    TreeGuard aloneGuard{alone};
    ASSERT_FALSE(messages(alone).empty());

    ParseAhead ahead(0); // no workers: every page is a miss
    ahead.setParseMissesWhole(true);
    InstallParseAhead(&ahead);
    SiteNode *root = CreateRootNode("http://localhost/p.html");
    TreeGuard guard{root};
    InstallParseAhead(nullptr);
    EXPECT_FALSE(root->diagnostics.pending());
    EXPECT_EQ(messages(root), messages(alone));
    EXPECT_EQ(root->title.str(), "P");
    ASSERT_TRUE(root->firstChild());
    EXPECT_EQ(root->firstChild()->url.str(), alone->firstChild()->url.str());
    EXPECT_EQ(ahead.stats().checksAtOnce + ahead.stats().checksLater, 0u);
}
