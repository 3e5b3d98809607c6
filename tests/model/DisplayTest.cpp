#include "model/Display.h"

#include <gtest/gtest.h>

namespace sylvix {
namespace {

struct NodeGuard
{
    SiteNode *n = CreateNode();
    ~NodeGuard() { FreeNode(n); }
};

TEST(DisplayTest, EachModeShowsItsOwnFieldAndNoneWhenEmpty)
{
    NodeGuard g;
    g.n->href = "a.html";
    g.n->localPath = "/srv/www/a.html";
    g.n->title = "";
    g.n->label = "Home";
    g.n->url = "http://www.example.org/a.html";
    const struct
    {
        DisplayMode mode;
        const char *text;
    } cases[] = {
        {DisplayMode::Hyperlink, "a.html"}, {DisplayMode::FileName, "/srv/www/a.html"},
        {DisplayMode::Title, "[none]"}, // empty counts as absent
        {DisplayMode::Label, "Home"},       {DisplayMode::Url, "http://www.example.org/a.html"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(DisplayText(*g.n, c.mode), c.text) << static_cast<int>(c.mode);

    NodeGuard bare;
    for (int m = 0; m <= 4; ++m)
        EXPECT_EQ(DisplayText(*bare.n, static_cast<DisplayMode>(m)), "[none]") << m;
}

TEST(DisplayTest, FlagLettersAndNamesKeepTheirOrders)
{
    const struct
    {
        uint32_t flags;
        const char *letters;
        const char *names;
    } cases[] = {
        {0, "------", ""},
        {BROKEN | EXTERNAL, "E---B-", "BROKEN|EXTERNAL"},
        {ISMAP | INLINED, "--M--I", "ISMAP|INLINED"},
        {NOTVER | VIRTUAL, "-V-N--", "NOTVER|VIRTUAL"},
        {ISMAP | BROKEN | EXTERNAL | NOTVER | VIRTUAL | INLINED, "EVMNBI",
         "ISMAP|BROKEN|EXTERNAL|NOTVER|VIRTUAL|INLINED"},
        {0x200 | 0x001, "------", ""}, // bits with no name are not shown
    };
    for (const auto &c : cases) {
        EXPECT_EQ(FlagLetters(c.flags), c.letters) << c.flags;
        EXPECT_EQ(FlagNames(c.flags), c.names) << c.flags;
    }
}

} // namespace
} // namespace sylvix
