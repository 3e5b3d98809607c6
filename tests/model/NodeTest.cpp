#include "model/SiteNode.h"
#include "model/Url.h"

#include <gtest/gtest.h>

using namespace sylvix;

TEST(Node, CopiesShallowAndDeep)
{
    SiteNode *n = CreateNode();
    SetUrl(n, "http://h/a/b.html?q#f", nullptr);
    n->title = "Title";
    n->label = "Label";
    n->kind = Html;
    n->flags = INLINED | VIRTUAL;
    n->setMethod("POST");
    n->stat.size = 42;
    n->diagnostics = std::make_shared<const DiagnosticList>(DiagnosticList{{"msg", 1, 3}});
    for (int i = 0; i < 3; ++i) {
        SiteNode *c = CreateNode();
        AppendChild(n, c);
        SetUrl(c, "c" + std::to_string(i) + ".html", n);
        c->kind = Image;
        c->setLoaded(1);
    }
    n->setLoaded(1);

    SiteNode *shallow = CopyNode(n, 0);
    EXPECT_EQ(shallow->url.str(), n->url.str());
    EXPECT_EQ(shallow->href.str(), n->href.str());
    EXPECT_EQ(shallow->label.str(), "Label");
    EXPECT_EQ(shallow->method().str(), "POST");
    EXPECT_EQ(shallow->flags, n->flags);
    EXPECT_EQ(shallow->stat.size, 42);
    EXPECT_EQ(shallow->kind, Unknown);
    EXPECT_FALSE(shallow->title.present());
    EXPECT_FALSE(shallow->diagnostics);
    EXPECT_EQ(shallow->firstChild(), nullptr);
    EXPECT_EQ(shallow->loaded(), 0u);

    SiteNode *deep = CopyNode(n, 1);
    EXPECT_EQ(deep->title.str(), "Title");
    EXPECT_EQ(deep->kind, Html);
    ASSERT_TRUE(deep->diagnostics);
    EXPECT_EQ(*deep->diagnostics, *n->diagnostics);
    EXPECT_EQ(deep->loaded(), 1u);
    int count = 0;
    for (SiteNode *c = deep->firstChild(); c; c = c->nextSibling(), ++count) {
        EXPECT_EQ(c->parent(), deep);
        EXPECT_EQ(c->kind, Unknown); // children are shallow copies
        EXPECT_EQ(c->loaded(), 0u);
        EXPECT_EQ(c->url.str(), "http://h/a/c" + std::to_string(count) + ".html");
    }
    EXPECT_EQ(count, 3);
    FreeNode(shallow);
    FreeNode(deep);
    FreeNode(n);
}

TEST(Node, FreeingAFirstChildFreesItsLaterSiblings)
{
    size_t before = LiveNodeCount();
    SiteNode *p = CreateNode();
    for (int i = 0; i < 4; ++i)
        AppendChild(p, CreateNode());
    SiteNode *second = p->firstChild()->nextSibling();
    FreeNode(second); // and the two after it
    EXPECT_EQ(LiveNodeCount(), before + 2);
    EXPECT_EQ(p->firstChild()->nextSibling(), nullptr);
    EXPECT_EQ(p->lastChild(), p->firstChild());
    FreeNode(p);
    EXPECT_EQ(LiveNodeCount(), before);
}

TEST(Node, HugeAndDeepTreesFreeWithoutRecursion)
{
    size_t before = LiveNodeCount();
    SiteNode *wide = CreateNode();
    for (int i = 0; i < 100000; ++i)
        AppendChild(wide, CreateNode());
    SiteNode *deep = CreateNode();
    SiteNode *at = deep;
    for (int i = 0; i < 100000; ++i) {
        SiteNode *c = CreateNode();
        AppendChild(at, c);
        at = c;
    }
    EXPECT_EQ(LiveNodeCount(), before + 200002);
    FreeNode(wide);
    FreeNode(deep);
    EXPECT_EQ(LiveNodeCount(), before);
}

TEST(SharedStr, PoolInternsReleasesAndStaysConsistent)
{
    const size_t before = SharedStr::poolSize();
    std::vector<SharedStr> held;
    for (int i = 0; i < 50000; ++i)
        held.emplace_back("pool-test-" + std::to_string(i));
    EXPECT_EQ(SharedStr::poolSize(), before + 50000);
    SharedStr copy = held[7];
    copy = SharedStr("another unique text"); // assigning releases the old text
    EXPECT_EQ(held[7].useCount(), 1u);
    EXPECT_EQ(SharedStr::poolSize(), before + 50001);
    // Drop every third, then every entry must still be found as itself.
    for (size_t i = 0; i < held.size(); i += 3)
        held[i].reset();
    for (size_t i = 0; i < held.size(); ++i) {
        SharedStr again("pool-test-" + std::to_string(i));
        if (i % 3 == 0) {
            EXPECT_EQ(again.useCount(), 1u) << i;
        } else {
            EXPECT_EQ(again.id(), held[i].id()) << i;
            EXPECT_EQ(again.view(), held[i].view());
        }
    }
    held.clear();
    copy.reset();
    EXPECT_EQ(SharedStr::poolSize(), before);
    SharedStr none;
    EXPECT_STREQ(none.c_str(), "");
    EXPECT_FALSE(none.present());
    EXPECT_TRUE(SharedStr("").present());
}
