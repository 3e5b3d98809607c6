#include "ModelFixture.h"

#include "model/Events.h"
#include "model/Notify.h"

using namespace sylvix;
using namespace sylvix::test;

namespace {

class Expand : public ServerFixture
{
protected:
    SiteNode *root(const char *url)
    {
        m_root = CreateRootNode(url);
        return m_root;
    }
    void TearDown() override
    {
        FreeNode(m_root);
        ServerFixture::TearDown();
    }
    SiteNode *m_root = nullptr;
};

} // namespace

TEST_F(Expand, LinksBecomeChildrenInDocumentOrder)
{
    // Every kind of link, with a base element that moves what follows it.
    doc("a/index.html", readFile(SYLVIX_SOURCE_DIR "/tests/model/data/links.html"));
    SiteNode *r = root("http://localhost/a/index.html");
    ASSERT_EQ(r->loaded(), 1u);
    EXPECT_EQ(r->title.str(), "The A page");
    EXPECT_EQ(r->url.str(), "http://localhost/elsewhere/index.html");
    // URL, label, flags and method of each child.
    const std::vector<std::string> want = {
        "http://localhost/a/style.css presentation ------ -",
        "http://localhost/a/one.html First link ------ -",
        "http://localhost/top.html - ------ -",
        "http://localhost/a/pic.gif A picture --M--I -",
        "http://localhost/cgi-bin/find.sh Search ------ POST",
        "http://localhost/a/plain.sh - ------ -",
        "http://localhost/a/go.gif Go --M--- -",
        "http://localhost/a/area.html navigation ------ -",
        "http://localhost/elsewhere/after.html after ------ -",
    };
    std::vector<std::string> got;
    for (SiteNode *c : Children(r)) {
        got.push_back(c->url.str() + " " + (c->label ? c->label.str() : "-") + " "
                      + FlagLetters(c->flags) + " " + (c->method() ? c->method().str() : "-"));
        EXPECT_TRUE(!c->loaded() && c->kind == Unknown && c->parent() == r && c->depth == 2)
            << got.back(); // not examined yet
    }
    EXPECT_EQ(got, want);
}

TEST_F(Expand, ImageMapsFromTheConfiguration)
{
    doc("index.html",
        R"(<a href="/~imagemap/nav"><img src="nav.gif" ismap></a><a href="/~imagemap/none">x</a>)");
    set("ImageMaps\\nav", "Image", m_dir / "docs/nav.gif");
    set("ImageMaps\\nav", "1", "rect /one.html 0,0 10,10");
    set("ImageMaps\\nav", "D1", "Area one");
    set("ImageMaps\\nav", "2", "circle");
    set("ImageMaps\\nav", "3", "poly  http://elsewhere.org/  1,2");
    SiteNode *r = root("http://localhost/index.html");
    auto kids = Children(r);
    ASSERT_EQ(kids.size(), 3u);
    ASSERT_EQ(NeedsReload(kids[0]), ReloadResult::Expand);
    ExpandNode(kids[0]);
    std::vector<std::string> areas;
    for (SiteNode *a : Children(kids[0]))
        areas.push_back(a->url.str() + " " + (a->label ? a->label.str() : "-"));
    // No default, and area 2 has no target.
    EXPECT_EQ(areas, (std::vector<std::string>{"http://localhost/one.html Area one",
                                               "http://elsewhere.org/ -"}));
    EXPECT_EQ(kids[0]->kind, ImageMap);
    EXPECT_EQ(kids[0]->localPath.str(), m_dir / "docs/nav.gif");
    EXPECT_EQ(NeedsReload(kids[0]), ReloadResult::Expand); // maps are always looked at again

    Refresh(kids[2]);
    EXPECT_TRUE(kids[2]->flags & BROKEN); // not configured
}

TEST_F(Expand, SelfLinkMirrorsItsParent)
{
    doc("index.html", R"(<title>Home</title><a href="index.html">me</a><a href="b.html">b</a>)");
    doc("b.html", R"(<a href="index.html">home</a>)");
    SiteNode *r = root("http://localhost/index.html");
    SiteNode *self = r->firstChild();
    ASSERT_EQ(NeedsReload(self), ReloadResult::Expand);
    EXPECT_EQ(self->equivalent, r);
    std::filesystem::remove(m_dir / "docs/index.html"); // a mirror must not read it again
    ExpandNode(self);
    EXPECT_EQ(self->title.str() + " " + KindDisplayText(self->kind), "Home HTML");
    // b was not expanded yet when its twin under the mirror is examined.
    SiteNode *twin = self->lastChild();
    ASSERT_EQ(self->childCount(), 2u);
    EXPECT_EQ(twin->url.str(), "http://localhost/b.html");
    EXPECT_EQ(NeedsReload(twin), ReloadResult::Expand);
    EXPECT_EQ(twin->equivalent, nullptr);
}

TEST_F(Expand, RefreshTestSeesChangedFilesAndStops)
{
    doc("index.html", R"(<a href="x.html">x</a><a href="http://far.away/">far</a>)");
    std::string x = doc("x.html", "<p>x</p>");
    SetMtime(x, 1000000);
    SiteNode *r = root("http://localhost/index.html");
    auto kids = Children(r);
    for (SiteNode *k : kids)
        Refresh(k);
    EXPECT_EQ(NeedsReload(kids[0]), ReloadResult::NothingToDo); // untouched
    EXPECT_EQ(NeedsReload(kids[1]), ReloadResult::NothingToDo); // external
    SetMtime(x, 2000000);
    EXPECT_EQ(NeedsReload(kids[0]), ReloadResult::Expand);
    ExpandNode(kids[0]);
    EXPECT_EQ(NeedsReload(kids[0]), ReloadResult::NothingToDo);
    std::filesystem::remove(x);
    EXPECT_EQ(NeedsReload(kids[0]), ReloadResult::NothingToDo); // gone: broken, and not newer
    EXPECT_TRUE(kids[0]->flags & BROKEN);
    // Broken nodes are always looked at again.
    EXPECT_EQ(NeedsReload(kids[0]), ReloadResult::Expand);

    // A stop request ends the next expansion before it starts.
    doc("x.html", "<a href=\"b.html\">b</a>");
    ASSERT_EQ(NeedsReload(kids[0]), ReloadResult::Expand);
    RequestCancel(1);
    EXPECT_EQ(ExpandNode(kids[0]), ExpandResult::Stopped);
    EXPECT_EQ(kids[0]->childCount(), 0u);
    EXPECT_EQ(ExpandNode(kids[0]), ExpandResult::Expanded);
    EXPECT_EQ(kids[0]->childCount(), 1u);
}

TEST_F(Expand, StatusTextOnlyOnTheMainThread)
{
    std::vector<std::string> seen;
    NotifyHooks h;
    h.status = [&](const std::string &t) { seen.push_back(t); };
    InstallNotifyHooks(h);
    doc("index.html", "<p>hi</p>");
    mainThread = std::this_thread::get_id();
    std::thread([] { ShowStatusText("from a worker"); }).join();
    EXPECT_TRUE(seen.empty());
    FreeNode(CreateRootNode("http://localhost/index.html"));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], "Parsing http://localhost/index.html...");
    mainThread.reset();
    InstallNotifyHooks({});
}
