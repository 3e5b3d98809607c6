#include "resources/CommandTable.h"
#include "resources/Icons.h"

#include "model/SiteNode.h"

#include <QAction>
#include <QActionGroup>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QToolBar>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <string>

using namespace sylvix;

namespace {

void CheckEntries(const char *menu, const std::vector<MenuEntry> &entries)
{
    for (const MenuEntry &e : entries) {
        EXPECT_TRUE(e.id == 0 || FindCommand(e.id)) << menu << " " << e.id;
        CheckEntries(menu, e.submenu);
    }
}

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

// The table, and the menus, toolbar and keys built from it.
TEST(CommandTable, ReferencesMenusToolbarAndKeys)
{
    std::set<int> ids;
    std::set<std::string> objectNames;
    for (const Command &c : Commands()) {
        EXPECT_TRUE(ids.insert(c.id).second) << c.id;
        EXPECT_TRUE(objectNames.insert(c.objectName).second) << c.objectName;
        // The key shown after the tab and the key that works go together.
        EXPECT_EQ(std::strchr(c.text, '\t') != nullptr, c.shortcut != nullptr) << c.text;
    }
    for (const auto *menus : {&MainMenu(), &TreeMenu()}) {
        for (const Menu &m : *menus)
            CheckEntries(m.title, m.entries);
    }
    CheckEntries("shortcut", ShortcutMenu().entries);
    for (int id : {ID_HELP_CONTENTS, ID_HELP_MENUS, ID_HELP_ICONS, ID_HELP_KEYS,
                   ID_HELP_COMMANDLINE, ID_HELP_INDEX, ID_HELP_GLOSSARY})
        EXPECT_TRUE(HelpKeyword(id, false) && HelpKeyword(id, true)) << id;

    QWidget owner;
    CommandActions actions(&owner);
    EXPECT_EQ(owner.findChild<QAction *>(QStringLiteral("actionFileNewTree")),
              actions.action(ID_FILE_NEW));
    actions.action(ID_VIEW_TITLE)->trigger();
    actions.action(ID_VIEW_URL)->trigger();
    EXPECT_EQ(actions.displayModes()->checkedAction(), actions.action(ID_VIEW_URL));

    QMenuBar bar;
    actions.fillMenuBar(&bar, TreeMenu());
    QStringList titles;
    for (QAction *a : bar.actions())
        titles << a->text();
    EXPECT_EQ(titles.join(QLatin1Char(',')),
              QStringLiteral("&File,&Search,&View,&Tree,T&ools,&Window,&Help"));
    // The tree window's Help menu writes Contents with a blank before the tab:
    // its item is a stand-in that runs the command and follows its state.
    QAction *contents = FindByText(bar.actions().last()->menu(), QStringLiteral("&Contents \tF1"));
    ASSERT_NE(contents, nullptr);
    EXPECT_NE(contents, actions.action(ID_HELP_CONTENTS));
    QSignalSpy ran(actions.action(ID_HELP_CONTENTS), &QAction::triggered);
    contents->trigger();
    EXPECT_EQ(ran.count(), 1);
    actions.action(ID_HELP_CONTENTS)->setEnabled(false);
    EXPECT_FALSE(contents->isEnabled());

    std::unique_ptr<QMenu> shortcut(actions.buildMenu(ShortcutMenu(), nullptr));
    QSignalSpy properties(actions.action(ID_PROPERTIES), &QAction::triggered);
    FindByText(shortcut.get(), QStringLiteral("General..."))->trigger();
    EXPECT_EQ(properties.count(), 1);

    // Each toolbar button is a command with a picture and a tip; 0 is a gap.
    QToolBar toolBar;
    actions.fillToolBar(&toolBar);
    ASSERT_EQ(toolBar.actions().size(), qsizetype(ToolbarSlots().size()));
    for (size_t i = 0; i < ToolbarSlots().size(); ++i) {
        const int id = ToolbarSlots()[i];
        const Command *c = FindCommand(id);
        EXPECT_EQ(toolBar.actions()[qsizetype(i)]->isSeparator(), id == 0) << i;
        EXPECT_TRUE(id == 0 || (c && c->icon && *c->tooltip)) << id;
    }
    EXPECT_EQ(toolBar.actions()[1], actions.action(ID_FILE_OPEN));

    // No key is held by two commands.
    std::map<QString, int> holders;
    for (QAction *a : actions.all()) {
        for (const QKeySequence &key : a->shortcuts())
            EXPECT_TRUE(holders.emplace(key.toString(), a->data().toInt()).second)
                << key.toString().toStdString();
    }
    const std::pair<QKeySequence, int> keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_O), ID_FILE_OPEN},
        {QKeySequence(Qt::Key_F1), ID_HELP_CONTENTS},
        {QKeySequence(Qt::ALT | Qt::Key_Return), ID_PROPERTIES},
        {QKeySequence(Qt::ALT | Qt::Key_Enter), ID_PROPERTIES},
    };
    for (const auto &[key, id] : keys)
        EXPECT_EQ(holders[key.toString()], id) << key.toString().toStdString();
}

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

    using Names = std::vector<std::string>;
    const std::pair<uint32_t, Names> states[] = {
        {BROKEN | NOTVER, {"NOTVER_ICON"}},
        {INLINED | ISMAP | BROKEN, {"ISMAP_ICON", "BROKEN_ICON", "INLINED_ICON"}},
        {INLINED | NOTVER | ISMAP | VIRTUAL | EXTERNAL | BROKEN,
         {"EXTERNAL_ICON", "VIRTUAL_ICON", "ISMAP_ICON", "NOTVER_ICON", "INLINED_ICON"}},
        {0x1 | 0x2 | 0x8, {}},
    };
    for (const auto &[flags, want] : states) {
        const std::vector<const char *> got = StateIconNames(flags);
        EXPECT_EQ(Names(got.begin(), got.end()), want) << std::hex << flags;
    }
}
