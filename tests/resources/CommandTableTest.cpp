#include "resources/CommandTable.h"
#include "resources/Icons.h"

#include <QAction>
#include <QActionGroup>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QToolBar>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>

using namespace sylvix;

namespace {

void ForEachEntry(const std::vector<MenuEntry> &entries,
                  const std::function<void(const MenuEntry &)> &fn)
{
    for (const MenuEntry &e : entries) {
        fn(e);
        ForEachEntry(e.submenu, fn);
    }
}

QAction *FindByText(QMenu *menu, const QString &text)
{
    for (QAction *a : menu->actions()) {
        if (a->text() == text)
            return a;
        if (a->menu()) {
            if (QAction *found = FindByText(a->menu(), text))
                return found;
        }
    }
    return nullptr;
}

} // namespace

TEST(CommandTable, EveryReferenceNamesACommand)
{
    std::set<int> ids;
    std::set<std::string> objectNames;
    for (const Command &c : Commands()) {
        EXPECT_TRUE(ids.insert(c.id).second) << c.id;
        EXPECT_TRUE(objectNames.insert(c.objectName).second) << c.objectName;
        EXPECT_EQ(std::strncmp(c.objectName, "action", 6), 0) << c.objectName;
        EXPECT_NE(std::strlen(c.prompt), 0u) << c.id;
        // The key shown after the tab and the key that works go together.
        EXPECT_EQ(std::strchr(c.text, '\t') != nullptr, c.shortcut != nullptr) << c.text;
    }

    std::vector<const Menu *> menus;
    for (const Menu &m : MainMenu())
        menus.push_back(&m);
    for (const Menu &m : TreeMenu())
        menus.push_back(&m);
    menus.push_back(&ShortcutMenu());
    for (const Menu *m : menus) {
        ForEachEntry(m->entries, [&](const MenuEntry &e) {
            if (e.id != 0) {
                EXPECT_NE(FindCommand(e.id), nullptr) << m->title << " " << e.id;
            } else if (!e.submenu.empty()) {
                EXPECT_NE(e.text, nullptr) << "an untitled submenu in " << m->title;
            }
        });
    }

    const std::vector<int> &buttons = ToolbarSlots();
    EXPECT_EQ(buttons.size(), 17u);
    EXPECT_EQ(std::count(buttons.begin(), buttons.end(), 0), 4);
    for (int id : buttons) {
        if (id == 0)
            continue;
        const Command *c = FindCommand(id);
        ASSERT_NE(c, nullptr) << id;
        ASSERT_NE(c->icon, nullptr) << id;
        EXPECT_FALSE(Icon(c->icon).isNull()) << c->icon;
        EXPECT_NE(std::strlen(c->tooltip), 0u) << id;
    }

    for (int id : {ID_HELP_CONTENTS, ID_HELP_MENUS, ID_HELP_ICONS, ID_HELP_KEYS,
                   ID_HELP_COMMANDLINE, ID_HELP_INDEX, ID_HELP_GLOSSARY}) {
        EXPECT_NE(HelpKeyword(id, false), nullptr) << id;
        EXPECT_NE(HelpKeyword(id, true), nullptr) << id;
    }
    EXPECT_EQ(HelpKeyword(ID_FILE_OPEN, false), nullptr);
}

TEST(CommandTable, AcceleratorsReachTheirCommands)
{
    QWidget owner;
    CommandActions actions(&owner);
    const struct
    {
        QKeySequence key;
        int id;
    } cases[] = {
        {QKeySequence(Qt::Key_Plus), ID_TREE_EXPAND},
        {QKeySequence(Qt::Key_Minus), ID_TREE_COLLAPSE},
        {QKeySequence(Qt::CTRL | Qt::Key_B), ID_BROWSER_PREVIEW},
        {QKeySequence(Qt::CTRL | Qt::Key_N), ID_FILE_NEW},
        {QKeySequence(Qt::CTRL | Qt::Key_O), ID_FILE_OPEN},
        {QKeySequence(Qt::Key_F1), ID_HELP_CONTENTS},
        {QKeySequence(Qt::ALT | Qt::Key_Return), ID_PROPERTIES},
        {QKeySequence(Qt::ALT | Qt::Key_Enter), ID_PROPERTIES},
    };
    for (const auto &c : cases) {
        int holders = 0;
        for (QAction *a : actions.all()) {
            if (a->shortcuts().contains(c.key)) {
                ++holders;
                EXPECT_EQ(a->data().toInt(), c.id) << c.key.toString().toStdString();
            }
        }
        EXPECT_EQ(holders, 1) << c.key.toString().toStdString();
    }
}

TEST(CommandTable, ActionsCarryNamesTextsAndOneDisplayMode)
{
    QWidget owner;
    CommandActions actions(&owner);
    QAction *newTree = owner.findChild<QAction *>(QStringLiteral("actionFileNewTree"));
    ASSERT_NE(newTree, nullptr);
    EXPECT_EQ(newTree, actions.action(ID_FILE_NEW));
    EXPECT_EQ(newTree->statusTip(), QStringLiteral("Open a window with new URL as root"));
    EXPECT_EQ(newTree->toolTip(), QStringLiteral("New Tree"));
    EXPECT_EQ(actions.action(12345), nullptr);

    actions.action(ID_VIEW_TITLE)->trigger();
    actions.action(ID_VIEW_URL)->trigger();
    EXPECT_EQ(actions.displayModes()->checkedAction(), actions.action(ID_VIEW_URL));
    EXPECT_FALSE(actions.action(ID_VIEW_TITLE)->isChecked());
    EXPECT_FALSE(actions.displayModes()->actions().contains(actions.action(ID_VIEW_TOOLBAR)));
}

TEST(CommandTable, MenusAndToolbarAreBuiltFromTheActions)
{
    QWidget owner;
    CommandActions actions(&owner);
    QMenuBar bar;
    actions.fillMenuBar(&bar, TreeMenu());
    QStringList titles;
    for (QAction *a : bar.actions())
        titles << a->text();
    EXPECT_EQ(titles.join(QLatin1Char(',')),
              QStringLiteral("&File,&Search,&View,&Tree,T&ools,&Window,&Help"));

    // The tree window's Help menu writes Contents with a blank before the tab:
    // its item is a stand-in that runs the command and follows its state.
    QMenu *help = bar.actions().last()->menu();
    QAction *contents = FindByText(help, QStringLiteral("&Contents \tF1"));
    ASSERT_NE(contents, nullptr);
    EXPECT_NE(contents, actions.action(ID_HELP_CONTENTS));
    QSignalSpy ran(actions.action(ID_HELP_CONTENTS), &QAction::triggered);
    contents->trigger();
    EXPECT_EQ(ran.count(), 1);
    actions.action(ID_HELP_CONTENTS)->setEnabled(false);
    EXPECT_FALSE(contents->isEnabled());

    // Menu 128 shares the command's own action.
    QMenuBar mainBar;
    actions.fillMenuBar(&mainBar, MainMenu());
    EXPECT_EQ(FindByText(mainBar.actions().last()->menu(), QStringLiteral("&Contents\tF1")),
              actions.action(ID_HELP_CONTENTS));

    std::unique_ptr<QMenu> shortcut(actions.buildMenu(ShortcutMenu(), nullptr));
    QAction *general = FindByText(shortcut.get(), QStringLiteral("General..."));
    ASSERT_NE(general, nullptr);
    QSignalSpy properties(actions.action(ID_PROPERTIES), &QAction::triggered);
    general->trigger();
    EXPECT_EQ(properties.count(), 1);
    actions.action(ID_PROPS_ACCESS)->setEnabled(false);
    EXPECT_FALSE(FindByText(shortcut.get(), QStringLiteral("Access Control..."))->isEnabled());

    QToolBar toolBar;
    actions.fillToolBar(&toolBar);
    ASSERT_EQ(toolBar.actions().size(), 17);
    EXPECT_EQ(toolBar.actions()[1], actions.action(ID_FILE_OPEN));
    EXPECT_TRUE(toolBar.actions()[4]->isSeparator());
    EXPECT_EQ(toolBar.actions()[16], actions.action(ID_HELP_CONTENTS));
}
