#include "resources/CommandTable.h"
#include "resources/Icons.h"

#include "model/SiteNode.h"

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QToolBar>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

using namespace sylvix;

namespace {

QAction *FindByText(QMenu *menu, const QString &text)
{
    for (QAction *a : menu->actions()) {
        if (a->text() == text)
            return a;
        if (QAction *found = a->menu() ? FindByText(a->menu(), text) : nullptr)
            return found;
    }
    return nullptr;
}

// The area a 16 px rendering paints; empty when nothing shows.
QRect PaintedArea(const char *name)
{
    const QImage image = Icon(name).pixmap(16, 16).toImage();
    QRect area;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            area |= qAlpha(image.pixel(x, y)) > 0 ? QRect(x, y, 1, 1) : QRect();
    }
    return area;
}

} // namespace

// The table, and the menus, toolbar and keys built from it.
TEST(CommandTable, ReferencesMenusToolbarAndKeys)
{
    std::set<int> ids;
    std::set<std::string> objectNames;
    for (const Command &c : Commands()) {
        EXPECT_TRUE(ids.insert(c.id).second && objectNames.insert(c.objectName).second)
            << c.objectName;
        // The key shown after the tab and the key that works go together.
        EXPECT_EQ(std::strchr(c.text, '\t') != nullptr, c.shortcut != nullptr) << c.text;
    }

    QWidget owner;
    CommandActions actions(&owner);
    QMenuBar bar;
    actions.fillMenuBar(&bar, TreeMenu());
    ASSERT_EQ(bar.actions().size(), qsizetype(TreeMenu().size()));
    // The tree window's Help menu writes Contents with a blank before the tab:
    // its item is a stand-in that runs the command and follows its state.
    QAction *contents = FindByText(bar.actions().last()->menu(), QStringLiteral("&Contents \tF1"));
    ASSERT_TRUE(contents && contents != actions.action(ID_HELP_CONTENTS));
    QSignalSpy ran(actions.action(ID_HELP_CONTENTS), &QAction::triggered);
    contents->trigger();
    actions.action(ID_HELP_CONTENTS)->setEnabled(false);
    EXPECT_TRUE(ran.count() == 1 && !contents->isEnabled());

    // Each toolbar button is its command's action, with a picture and a tip; 0 is a gap.
    QToolBar toolBar;
    actions.fillToolBar(&toolBar);
    ASSERT_EQ(toolBar.actions().size(), qsizetype(ToolbarSlots().size()));
    qsizetype slot = 0;
    for (int id : ToolbarSlots()) {
        const QAction *a = toolBar.actions()[slot++];
        EXPECT_TRUE(id == 0 ? a->isSeparator()
                            : a == actions.action(id) && !a->icon().isNull()
                                  && *FindCommand(id)->tooltip)
            << id;
    }

    // No key is held by two commands.
    std::map<QString, int> holders;
    for (QAction *a : actions.all()) {
        for (const QKeySequence &key : a->shortcuts())
            EXPECT_TRUE(holders.emplace(key.toString(), a->data().toInt()).second)
                << key.toString().toStdString();
    }
    // "; " parts the two keys of one command.
    EXPECT_EQ(holders[QKeySequence(Qt::ALT | Qt::Key_Return).toString()], ID_PROPERTIES);
    EXPECT_EQ(holders[QKeySequence(Qt::ALT | Qt::Key_Enter).toString()], ID_PROPERTIES);
}

TEST(Icons, EveryIconTheProgramNamesPaintsAt16px)
{
    std::set<std::string> names;
    for (uint32_t kind = 0; kind < Unknown; ++kind)
        names.insert(KindIconName(kind));
    EXPECT_EQ(names.size(), 20u) << "every known kind has a picture of its own";
    for (uint32_t kind : {uint32_t(Postscript), uint32_t(Unknown), 21u, 0xffffffffu})
        EXPECT_STREQ(KindIconName(kind), "UNKNOWN_ICON") << kind;
    // BROKEN_ICON is hidden by NOTVER when every state is asked for.
    names.insert({"MAIN_ICON", "BANNER", "DROP_CURSOR", "NODROP_CURSOR", "BROKEN_ICON"});
    for (const char *name : StateIconNames(0xffffffff))
        names.insert(name);
    for (const Command &c : Commands()) {
        if (c.icon)
            names.insert(c.icon);
    }
    for (const std::string &name : names) // a missing SVG plugin loads an icon that paints nothing
        EXPECT_FALSE(PaintedArea(name.c_str()).isEmpty()) << name;

    using Names = std::vector<std::string>;
    const std::pair<uint32_t, Names> states[] = {
        {INLINED | ISMAP | BROKEN, {"ISMAP_ICON", "BROKEN_ICON", "INLINED_ICON"}},
        {INLINED | NOTVER | ISMAP | VIRTUAL | EXTERNAL | BROKEN,
         {"EXTERNAL_ICON", "VIRTUAL_ICON", "ISMAP_ICON", "NOTVER_ICON", "INLINED_ICON"}},
    };
    for (const auto &[flags, want] : states) {
        const std::vector<const char *> got = StateIconNames(flags);
        EXPECT_EQ(Names(got.begin(), got.end()), want) << std::hex << flags;
    }
}
