#include "resources/Icons.h"
#include "resources/CommandTable.h"

#include "model/SiteNode.h"

#include <QImage>
#include <QPixmap>
#include <QRect>

#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <string>

using namespace sylvix;

namespace {

// The area a 16 px rendering actually paints; empty when nothing shows.
QRect PaintedArea(const char *name)
{
    const QImage image = Icon(name).pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
    QRect area;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 0)
                area |= QRect(x, y, 1, 1);
        }
    }
    return area;
}

} // namespace

TEST(Icons, EveryIconTheProgramNamesPaintsAt16px)
{
    std::vector<std::string> names
        = {"MAIN_ICON", "BANNER", "DROP_CURSOR", "NODROP_CURSOR", "UNKNOWN_ICON"};
    std::set<std::string> kinds;
    for (uint32_t kind = 0; kind < Unknown; ++kind)
        kinds.insert(KindIconName(kind));
    EXPECT_EQ(kinds.size(), 20u) << "every known kind has a picture of its own";
    for (uint32_t kind : std::initializer_list<uint32_t>{Postscript, Unknown, 21, 0xffffffff})
        EXPECT_STREQ(KindIconName(kind), "UNKNOWN_ICON") << kind;
    names.insert(names.end(), kinds.begin(), kinds.end());
    for (const char *name : StateIconNames(0xffffffff))
        names.emplace_back(name);
    names.emplace_back("BROKEN_ICON"); // hidden above by NOTVER
    for (const Command &c : Commands()) {
        if (c.icon)
            names.emplace_back(c.icon);
    }
    for (const std::string &name : names) {
        // A missing SVG plugin loads the icon but paints nothing.
        EXPECT_FALSE(Icon(name.c_str()).isNull()) << name;
        EXPECT_FALSE(PaintedArea(name.c_str()).isEmpty()) << name;
    }
    EXPECT_TRUE(Icon("NO_SUCH_ICON").isNull());
    EXPECT_EQ(&Icon("HTML_ICON"), &Icon("HTML_ICON")) << "loaded once and kept";
    // The row's box marks stay in the top left nine pixels.
    for (const char *name : {"EXPAND_ICON", "COLLAPSE_ICON"}) {
        const QRect area = PaintedArea(name);
        EXPECT_TRUE(QRect(0, 0, 9, 9).contains(area)) << name;
        EXPECT_GE(area.width(), 7) << name;
    }
}

TEST(Icons, StateIconsInFixedOrder)
{
    using Names = std::vector<std::string>;
    const struct
    {
        uint32_t flags;
        Names names;
    } cases[] = {
        {0, {}},
        {BROKEN, {"BROKEN_ICON"}},
        {BROKEN | NOTVER, {"NOTVER_ICON"}},
        {INLINED | ISMAP | BROKEN, {"ISMAP_ICON", "BROKEN_ICON", "INLINED_ICON"}},
        {INLINED | NOTVER | ISMAP | VIRTUAL | EXTERNAL | BROKEN,
         {"EXTERNAL_ICON", "VIRTUAL_ICON", "ISMAP_ICON", "NOTVER_ICON", "INLINED_ICON"}},
        {0x1 | 0x2 | 0x8, {}},
    };
    for (const auto &c : cases) {
        const std::vector<const char *> got = StateIconNames(c.flags);
        EXPECT_EQ(Names(got.begin(), got.end()), c.names) << std::hex << c.flags;
    }
}
