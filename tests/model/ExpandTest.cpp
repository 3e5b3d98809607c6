#include "ModelFixture.h"

#include "model/Events.h"
#include "model/Expand.h"
#include "model/Notify.h"
#include "model/Url.h"

#include <utime.h>

using namespace sylvix;
using namespace sylvix::test;

namespace {

std::vector<SiteNode *> children(SiteNode *n)
{
    std::vector<SiteNode *> out;
    for (SiteNode *c = n->firstChild(); c; c = c->nextSibling())
        out.push_back(c);
    return out;
}

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
    doc("a/index.html", R"(<html><head><title>The <b>A</b> page</title>
<link rel="stylesheet" href="style.css" role="presentation">
</head><body>
<a href="one.html">First <i>link</i></a>
<a href="/top.html"><img src="pic.gif" alt="A picture" ISMAP></a>
<a name="no-href">anchor without href</a>
<form action="/cgi-bin/find.sh" method="POST">
  <input type="text" name="q">
  <input type="Submit" value="Search">
  <input type="submit" value="Second">
</form>
<form action="plain.sh"><div><input type="submit" value="nested"></div></form>
<input type="IMAGE" src="go.gif" value="Go">
<input type="image" value="no source">
<area href="area.html" role="navigation">
<base href="http://localhost/elsewhere/">
<a href="after.html">after</a>
</body></html>)");
    SiteNode *r = root("http://localhost/a/index.html");
    ASSERT_EQ(r->loaded(), 1u);
    EXPECT_EQ(r->title.str(), "The A page");
    auto kids = children(r);
    // A base element moves the document, and what follows it.
    EXPECT_EQ(r->url.str(), "http://localhost/elsewhere/index.html");
    ASSERT_EQ(kids.size(), 9u);
    struct Want
    {
        const char *url, *label;
        uint32_t flags;
        const char *method;
    } want[] = {
        {"http://localhost/a/style.css", "presentation", 0, nullptr},
        {"http://localhost/a/one.html", "First link", 0, nullptr},
        {"http://localhost/top.html", nullptr, 0, nullptr},
        {"http://localhost/a/pic.gif", "A picture", INLINED | ISMAP, nullptr},
        {"http://localhost/cgi-bin/find.sh", "Search", 0, "POST"},
        {"http://localhost/a/plain.sh", nullptr, 0, nullptr},
        {"http://localhost/a/go.gif", "Go", ISMAP, nullptr},
        {"http://localhost/a/area.html", "navigation", 0, nullptr},
        {"http://localhost/elsewhere/after.html", "after", 0, nullptr},
    };
    for (size_t i = 0; i < kids.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(kids[i]->url.str(), want[i].url);
        EXPECT_EQ(kids[i]->label.present(), want[i].label != nullptr);
        if (want[i].label) {
            EXPECT_EQ(kids[i]->label.str(), want[i].label);
        }
        EXPECT_EQ(kids[i]->flags, want[i].flags);
        EXPECT_EQ(kids[i]->method().present(), want[i].method != nullptr);
        EXPECT_EQ(kids[i]->loaded(), 0u);
        EXPECT_EQ(kids[i]->kind, Unknown); // not examined yet
        EXPECT_EQ(kids[i]->parent(), r);
        EXPECT_EQ(kids[i]->depth, 2u);
    }
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
    auto kids = children(r);
    ASSERT_EQ(kids.size(), 3u);
    ASSERT_EQ(NeedsReload(kids[0]), ReloadResult::Expand);
    ExpandNode(kids[0]);
    EXPECT_EQ(kids[0]->kind, ImageMap);
    EXPECT_EQ(kids[0]->localPath.str(), m_dir / "docs/nav.gif");
    auto areas = children(kids[0]);
    ASSERT_EQ(areas.size(), 2u); // no default, and area 2 has no target
    EXPECT_EQ(areas[0]->url.str(), "http://localhost/one.html");
    EXPECT_EQ(areas[0]->label.str(), "Area one");
    EXPECT_EQ(areas[1]->url.str(), "http://elsewhere.org/");
    EXPECT_FALSE(areas[1]->label.present());

    set("ImageMaps\\nav", "Default", "/home.html");
    set("ImageMaps\\nav", "DefaultDesc", "Home");
    ASSERT_EQ(NeedsReload(kids[0]), ReloadResult::Expand); // maps are always looked at again
    ExpandNode(kids[0]);
    areas = children(kids[0]);
    ASSERT_EQ(areas.size(), 3u);
    EXPECT_EQ(areas[0]->url.str(), "http://localhost/home.html");
    EXPECT_EQ(areas[0]->label.str(), "Home");

    ASSERT_EQ(NeedsReload(kids[2]), ReloadResult::Expand);
    ExpandNode(kids[2]);
    EXPECT_TRUE(kids[2]->flags & BROKEN); // not configured
}

TEST_F(Expand, SelfLinkMirrorsItsParent)
{
    doc("index.html", R"(<title>Home</title><a href="index.html">me</a><a href="b.html">b</a>)");
    doc("b.html", R"(<a href="index.html">home</a>)");
    SiteNode *r = root("http://localhost/index.html");
    auto kids = children(r);
    ASSERT_EQ(NeedsReload(kids[0]), ReloadResult::Expand);
    EXPECT_EQ(kids[0]->equivalent, r);
    // Remove the file: a mirror must not read it again.
    std::filesystem::remove(m_dir / "docs/index.html");
    ExpandNode(kids[0]);
    EXPECT_EQ(kids[0]->title.str(), "Home");
    EXPECT_EQ(kids[0]->kind, Html);
    auto mirrored = children(kids[0]);
    ASSERT_EQ(mirrored.size(), 2u);
    EXPECT_EQ(mirrored[1]->url.str(), "http://localhost/b.html");
    EXPECT_EQ(mirrored[1]->parent(), kids[0]);
    EXPECT_EQ(mirrored[1]->loaded(), 0u);
    EXPECT_EQ(mirrored[1]->kind, Unknown); // a shallow copy

    // b was not expanded yet when its twin under the mirror is examined.
    EXPECT_EQ(NeedsReload(mirrored[1]), ReloadResult::Expand);
    EXPECT_EQ(mirrored[1]->equivalent, nullptr);
}

TEST_F(Expand, RefreshTestSeesChangedFiles)
{
    std::string page
        = doc("index.html", R"(<a href="x.html">x</a><a href="http://far.away/">far</a>)");
    std::string x = doc("x.html", "<p>x</p>");
    struct utimbuf old
    {
        1000000, 1000000
    };
    ::utime(x.c_str(), &old);
    SiteNode *r = root("http://localhost/index.html");
    auto kids = children(r);
    for (SiteNode *k : kids)
        if (NeedsReload(k) == ReloadResult::Expand)
            ExpandNode(k);
    EXPECT_EQ(NeedsReload(kids[0]), ReloadResult::NothingToDo); // untouched
    EXPECT_EQ(NeedsReload(kids[1]), ReloadResult::NothingToDo); // external
    struct utimbuf newer
    {
        2000000, 2000000
    };
    ::utime(x.c_str(), &newer);
    EXPECT_EQ(NeedsReload(kids[0]), ReloadResult::Expand);
    ExpandNode(kids[0]);
    EXPECT_EQ(NeedsReload(kids[0]), ReloadResult::NothingToDo);
    std::filesystem::remove(x);
    EXPECT_EQ(NeedsReload(kids[0]), ReloadResult::NothingToDo); // gone: broken, and not newer
    EXPECT_TRUE(kids[0]->flags & BROKEN);
    EXPECT_EQ(NeedsReload(kids[0]),
              ReloadResult::Expand); // broken nodes are always looked at again
}

TEST_F(Expand, StopRequestEndsTheNextExpansion)
{
    doc("index.html", "<a href=\"a.html\">a</a>");
    SiteNode *r = root("http://localhost/index.html");
    SiteNode *a = r->firstChild();
    doc("a.html", "<a href=\"b.html\">b</a>");
    ASSERT_EQ(NeedsReload(a), ReloadResult::Expand);
    RequestCancel(1);
    EXPECT_EQ(ExpandNode(a), ExpandResult::Stopped);
    EXPECT_EQ(a->loaded(), 0u);
    EXPECT_EQ(ExpandNode(a), ExpandResult::Expanded);
    EXPECT_EQ(a->loaded(), 1u);
}

TEST_F(Expand, StatusTextOnlyOnTheMainThread)
{
    std::vector<std::string> seen;
    NotifyHooks h;
    h.status = [&](const std::string &t) { seen.push_back(t); };
    InstallNotifyHooks(h);
    doc("index.html", "<p>hi</p>");
    mainThread.reset();
    FreeNode(CreateRootNode("http://localhost/index.html"));
    EXPECT_TRUE(seen.empty()); // start-up: nobody sees it
    mainThread = std::this_thread::get_id();
    std::thread([] { ShowStatusText("from a worker"); }).join();
    EXPECT_TRUE(seen.empty());
    FreeNode(CreateRootNode("http://localhost/index.html"));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], "Parsing http://localhost/index.html...");
    mainThread.reset();
    InstallNotifyHooks({});
}
