// A view that keeps its rows from the hooks alone must end up with the rows
// the tree has, whatever the tree went through.

#include "ModelFixture.h"

#include "model/ViewHooks.h"

#include <random>
#include <unordered_map>

using namespace sylvix;
using namespace sylvix::test;

namespace {

// Believes only what the hooks tell it, and checks at each call that the
// tree still shows the old state before a change and the new one after.
struct ShadowView
{
    std::unordered_map<SiteNode *, uint32_t> rows;  // shown node -> its child rows
    std::unordered_map<SiteNode *, uint32_t> cutAt; // where a removal cuts, or a mirror's count
    int materialised = 0, freedWithItem = 0;

    ShadowView()
    {
        ViewHooks h;
        h.childAboutToBeAppended = [this](SiteNode *p, uint32_t index) {
            EXPECT_EQ(index, p->childCount());
            EXPECT_EQ(rowsOr(p, index), index);
        };
        h.childAppended = [this](SiteNode *p, SiteNode *c) {
            EXPECT_EQ(c->parent(), p);
            if (rows.count(p))
                ++rows[p];
            EXPECT_EQ(rowsOr(p, p->childCount()), p->childCount());
        };
        h.childrenAboutToBeFreed = [this](SiteNode *p, uint32_t first) {
            EXPECT_LT(first, p->childCount());
            EXPECT_EQ(rowsOr(p, p->childCount()), p->childCount());
            cutAt[p] = first;
        };
        // After a removal or a mirroring, the rows are where cutAt says.
        h.childrenFreed = [this](SiteNode *p) {
            if (rows.count(p))
                rows[p] = cutAt[p];
            EXPECT_EQ(rowsOr(p, p->childCount()), p->childCount());
        };
        h.childrenAboutToBeMirrored = [this](SiteNode *n, uint32_t count) {
            EXPECT_EQ(n->childCount(), 0u);
            EXPECT_GT(count, 0u);
            EXPECT_EQ(rowsOr(n, 0), 0u);
            cutAt[n] = count;
        };
        h.childrenMirrored = h.childrenFreed;
        h.materialised = [this](SiteNode *m) {
            ++materialised;
            EXPECT_EQ(rowsOr(m, m->childCount()), m->childCount());
        };
        h.nodeAboutToBeFreed = [this](SiteNode *n) {
            ++freedWithItem;
            EXPECT_EQ(n->viewItem, n);
            rows.erase(n);
            n->viewItem = nullptr;
        };
        InstallViewHooks(std::move(h));
    }
    ~ShadowView() { InstallViewHooks({}); }

    // The rows a shown node has, else what the check expects anyway.
    uint32_t rowsOr(SiteNode *n, uint32_t otherwise) { return rows.count(n) ? rows[n] : otherwise; }

    void show(SiteNode *n)
    {
        if (n->viewItem)
            return;
        n->viewItem = n;
        rows[n] = n->childCount(); // must not make mirror copies
    }
};

class ViewHooksTest : public ServerFixture
{
protected:
    void page(int i, unsigned salt)
    {
        std::string body = "<title>p" + std::to_string(i) + "</title>";
        for (unsigned k = 0; k < 2 + (salt + static_cast<unsigned>(i)) % 4; ++k)
            body += "<a href=p" + std::to_string((static_cast<unsigned>(i) * 7 + k * 3 + salt) % 12)
                    + ".html>l</a>";
        SetMtime(doc("p" + std::to_string(i) + ".html", body), 1500000000 + salt);
    }
};

} // namespace

TEST_F(ViewHooksTest, RowsKeptFromHooksMatchTheTree)
{
    for (int i = 0; i < 12; ++i)
        page(i, 0);
    doc("index.html", "<a href=p0.html>0</a><a href=p5.html>5</a>");
    std::mt19937 rng(5);
    ShadowView view;
    SiteNode *root = CreateRootNode("http://www.example.org/index.html");
    view.show(root);
    for (int step = 0; step < 300; ++step) {
        // Walk down from the root through shown rows, as a user opens them.
        SiteNode *n = root;
        for (int d = static_cast<int>(rng() % 5); d > 0 && n->hasChildren(); --d) {
            uint32_t pick = static_cast<uint32_t>(rng()) % n->childCount();
            n = n->firstChild();
            while (pick--)
                n = n->nextSibling();
            view.show(n);
        }
        switch (rng() % 8) {
        case 0: page(static_cast<int>(rng() % 12), static_cast<unsigned>(step) + 1); break;
        case 1:
            if (n != root)
                FreeNode(n); // n and its later siblings
            break;
        case 2:
            if (n->loaded())
                ExpandNode(n); // parsed again: the children go and come back
            break;
        default:
            Refresh(n);
            for (SiteNode *c : Children(n))
                Refresh(c);
            break;
        }
    }
    EXPECT_GT(view.rows.size(), 10u);
    EXPECT_GT(view.materialised, 0); // shown mirrors were counted before their copies came
    for (auto &[node, count] : view.rows)
        EXPECT_EQ(count, Children(node).size()) << node->url.str();
    FreeNode(root);
    EXPECT_TRUE(view.rows.empty()); // every row object was given back
    EXPECT_GT(view.freedWithItem, 20);
}
