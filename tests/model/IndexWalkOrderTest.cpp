// The index's searches start where the last one ended. The whole-site walk
// asks in level order, loading each node right after asking and appending
// children meanwhile (which moves order labels): the answers must still be
// those of the outward walk, across block ends and splits.

#include "ModelFixture.h"

#include "model/internal/NodeInternals.h"

#include <random>

using namespace sylvix;
using namespace sylvix::test;

TEST(EquivalenceIndex, LevelOrderQueriesWithAppendsFindWhatTheOutwardWalkFinds)
{
    std::mt19937 rng(11);
    // Two URLs that most pages link to (sets of more than one block), and
    // many that few do.
    const auto someUrl = [&] {
        return rng() % 8 ? "p" + std::to_string(rng() % 2) : "q" + std::to_string(rng() % 400);
    };
    SiteNode *root = CreateNode();
    TreeGuard guard{root};
    SetUrl(root, "http://h/p0", nullptr);
    root->setLoaded(1);
    std::vector<SiteNode *> level{root}, next;
    size_t asked = 0, found = 0;
    while (!level.empty() && asked < 3000) {
        for (SiteNode *node : level) {
            SiteNode *parent = node->parent();
            if (parent) {
                ++asked;
                SiteNode *byIndex = IndexFindEquivalent(parent, node->url, node);
                ASSERT_EQ(byIndex, WalkFindEquivalent(parent, node->url, node))
                    << "query " << asked << " for " << node->url.str();
                found += byIndex != nullptr;
                node->setLoaded(1);
            }
            // A page that is not found elsewhere gets children, as a parse
            // gives them; the rest would mirror.
            if (parent && rng() % 3)
                continue;
            const int children = 2 + static_cast<int>(rng() % 40);
            for (int i = 0; i < children; ++i) {
                SiteNode *c = CreateNode();
                AppendChild(node, c);
                SetUrl(c, someUrl(), node);
                next.push_back(c);
            }
        }
        level.swap(next);
        next.clear();
    }
    EXPECT_GE(asked, 3000u);
    EXPECT_GT(found, asked / 2); // most links go to pages seen before
    EXPECT_LT(found, asked);
}
