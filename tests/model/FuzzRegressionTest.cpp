// Inputs that the fuzz targets (fuzz/) found to break the site model, kept
// as ordinary cases. Most of them only fail visibly in the sanitizer build
// (make test-sanitize), where the fault they found is reported at once.

#include "model/SharedStr.h"
#include "model/SiteNode.h"
#include "model/Url.h"

#include <gtest/gtest.h>

using namespace sylvix;

namespace {

struct TreeGuard
{
    SiteNode *root;
    ~TreeGuard() { FreeNode(root); }
};

} // namespace

// fuzz-url: an empty href given as a view without data, under a link
// "sub/|\n./" on a page, was looked up in the string pool with memcmp on a
// null pointer, which the sanitizer reports as undefined behaviour.
TEST(FuzzRegression, EmptyViewWithoutDataInternsAsTheEmptyString)
{
    SharedStr empty("");
    SharedStr fromNull{std::string_view()};
    EXPECT_EQ(fromNull, empty);
    EXPECT_TRUE(fromNull.present());
    EXPECT_EQ(fromNull.size(), 0u);

    SiteNode *root = CreateNode();
    TreeGuard guard{root};
    SetUrl(root, "http://www.fuzz.test/dir/page.html", nullptr);
    SiteNode *parent = CreateNode();
    AppendChild(root, parent);
    SetUrl(parent, "sub/|\n./", root); // cut at the line feed
    SiteNode *node = CreateNode();
    AppendChild(parent, node);
    SetUrl(node, std::string_view(), parent);
    EXPECT_EQ(parent->url.view(), "http://www.fuzz.test/dir/sub/|");
    EXPECT_EQ(node->href.view(), "");
    // An empty href is the linking page itself.
    EXPECT_EQ(node->url.view(), parent->url.view());
}
