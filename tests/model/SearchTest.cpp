#include "ModelFixture.h"

#include "model/Search.h"

using namespace sylvix;
using namespace sylvix::test;

namespace {

// A loaded node, so that the walk examines nothing on disk.
SiteNode *add(SiteNode *parent, const std::string &url, uint32_t flags = 0)
{
    SiteNode *n = CreateNode();
    if (parent)
        AppendChild(parent, n);
    n->url = SharedStr(url);
    n->href = n->url;
    n->flags = flags;
    n->setLoaded(1);
    return n;
}

// The URL and the place among siblings at each level below the root.
std::string where(SiteNode *n)
{
    std::string places;
    for (SiteNode *p = n; p->parent(); p = p->parent())
        places = "@" + std::to_string(p->childIndex()) + places;
    return n->url.str() + places;
}

// Every match of query, in order, as Find and then Find Next give them.
std::vector<std::string> findAll(SiteNode *root, const SearchQuery &query)
{
    std::vector<std::string> found;
    std::vector<SiteNode *> path{root};
    int depth = SearchTree(path, 1, query, false);
    while (depth > 0) {
        found.push_back(where(path[static_cast<size_t>(depth) - 1]));
        path = PathTo(path[static_cast<size_t>(depth) - 1]); // as Find Next builds it
        depth = SearchTree(path, static_cast<int>(path.size()), query, true);
    }
    return found;
}

class Search : public ServerFixture
{};

} // namespace

TEST_F(Search, TextFieldCaseFlagsAndWhereTheWalkGoes)
{
    SiteNode *root = add(nullptr, "http://h/Index.html");
    TreeGuard guard{root};
    SiteNode *a = add(root, "http://h/a.html");
    a->title = "About US";
    add(a, "http://h/gone.html", BROKEN);
    SiteNode *ext = add(root, "http://x/ext.html", EXTERNAL | BROKEN);
    ext->title = "about";
    // The walk descends into loaded nodes that are not mirrors or external.
    SiteNode *unloaded = CreateNode();
    AppendChild(ext, unloaded);
    unloaded->url = "http://x/under-external-unloaded";
    SiteNode *source = add(root, "http://h/s.html");
    add(source, "http://h/under-source.html");
    SiteNode *mirror = add(root, "http://h/s.html#m");
    add(mirror, "http://h/under-mirror.html");
    SetEquivalent(mirror, source);
    add(add(root, "http://h/v/", VIRTUAL), "http://h/v/under-virtual-loaded");

    const std::pair<SearchQuery, std::vector<std::string>> cases[] = {
        {{"index", DisplayMode::Url, false, 0}, {"http://h/Index.html"}},
        {{"index", DisplayMode::Url, true, 0}, {}},
        {{"ABOUT", DisplayMode::Title, false, 0}, {"http://h/a.html@0", "http://x/ext.html@1"}},
        {{"about", DisplayMode::Title, true, 0}, {"http://x/ext.html@1"}},
        {{"", DisplayMode::Title, false, BROKEN},
         {"http://h/gone.html@0@0", "http://x/ext.html@1"}},
        {{"about", DisplayMode::Title, false, BROKEN | EXTERNAL}, {"http://x/ext.html@1"}},
        {{"nowhere", DisplayMode::Label, false, 0}, {}},
        {{"under", DisplayMode::Url, false, 0},
         {"http://h/under-source.html@2@0", "http://h/v/under-virtual-loaded@4@0"}},
    };
    for (const auto &[query, found] : cases)
        EXPECT_EQ(findAll(root, query), found) << query.text << " " << query.requiredFlags;
}

// Each node the search examines is reported, and the report can stop it.
TEST_F(Search, ProgressSeesEachNodeAndCanStop)
{
    SiteNode *root = add(nullptr, "http://h/a");
    TreeGuard guard{root};
    add(add(root, "http://h/b"), "http://h/c");
    std::vector<std::string> seen;
    SearchOptions opts;
    opts.progress = [&](const SiteNode *node) {
        seen.push_back(node->url.str());
        return node->url.view() == "http://h/b";
    };
    std::vector<SiteNode *> path{root};
    EXPECT_EQ(SearchTree(path, 1, SearchQuery{"c", DisplayMode::Url, false, 0}, false, opts), -1);
    EXPECT_EQ(seen, (std::vector<std::string>{"http://h/a", "http://h/b"}));
}
