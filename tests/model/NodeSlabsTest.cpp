#include "model/SiteNode.h"

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#define SYLVIX_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SYLVIX_TEST_ASAN 1
#endif
#endif

namespace sylvix {
namespace {

#ifdef SYLVIX_TEST_ASAN
// Nodes live in slabs that the allocator never sees freed: only the slabs'
// own poisoning lets the sanitizer report a read of a freed node.
TEST(NodeSlabsDeathTest, ReadingAFreedNodeIsReported)
{
    EXPECT_DEATH(
        {
            SiteNode *parent = CreateNode();
            SiteNode *child = CreateNode();
            AppendChild(parent, child);
            FreeChildren(parent);
            CreateNode(); // a new node must not take the freed place at once
            volatile uint32_t kind = child->kind;
            (void)kind;
        },
        "use-after-poison");
}
#endif

} // namespace
} // namespace sylvix
