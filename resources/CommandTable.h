#pragma once

// The one table of the program's commands, menus, toolbar and accelerators.
// The main frame and the tree view build their QActions, menus and toolbar
// from it; texts stand as the user sees them ("&" marks the mnemonic, the
// text after "\t" is the key shown in the menu).

#include <vector>

class QAction;
class QActionGroup;
class QMenu;
class QMenuBar;
class QObject;
class QToolBar;
class QWidget;

namespace sylvix {

enum CommandId : int {
    ID_BROWSER_PREVIEW = 32767,
    ID_PROPS_DIAGNOSTICS = 32769,
    ID_PROPS_ACCESS = 32770,
    ID_PROPERTIES = 32771,
    ID_VIEW_HYPERLINK = 32777,
    ID_VIEW_FILENAME = 32778,
    ID_VIEW_TITLE = 32779,
    ID_VIEW_LABEL = 32780,
    ID_VIEW_URL = 32781,
    ID_TREE_EXPAND = 32782,
    ID_TREE_COLLAPSE = 32783,
    ID_FIND_NODE = 32784,
    ID_FIND_NEXT = 32785,
    ID_PROPS_ACTIVITY = 32787,
    ID_TOOL_ADMIN = 32788,
    ID_HELP_CONTENTS = 32789,
    ID_TOOL_LEXMILL = 32790,
    ID_TOOL_AREAPAD = 32791,
    ID_WIZARDS = 32792,
    ID_VIEW_REFRESH = 32793,
    ID_VIEW_STOP = 32794,
    ID_HELP_ICONS = 32795,
    ID_HELP_MENUS = 32796,
    ID_HELP_KEYS = 32797,
    ID_HELP_COMMANDLINE = 32798,
    ID_HELP_GLOSSARY = 32800,
    ID_PREFERENCES = 32801,
    ID_TOOL_NUMBREL = 32802,
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_WINDOW_NEW = 57648,
    ID_WINDOW_ARRANGE = 57649,
    ID_WINDOW_CASCADE = 57650,
    ID_WINDOW_TILE = 57651,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_HELP_INDEX = 57666,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
};

struct Command
{
    int id;
    const char *objectName; // of its QAction, e.g. "actionFileNewTree"
    const char *text;       // menu text, e.g. "&New Tree...\tCtrl+N"
    const char *shortcut;   // QKeySequence portable text, "; " between keys; null: none
    const char *prompt;     // status-bar prompt while the item is under the pointer
    const char *tooltip;    // the toolbar button's tip; may be empty
    const char *icon;       // toolbar picture (see Icon()); null: none
    bool checkable;
};

// One item of a menu: a command, a separator (id 0, no submenu), or a
// submenu titled text. A text overrides the command's own text in this menu.
struct MenuEntry
{
    int id = 0;
    const char *text = nullptr;
    std::vector<MenuEntry> submenu = {};
};

struct Menu
{
    const char *title;
    std::vector<MenuEntry> entries;
};

const std::vector<Command> &Commands();
const Command *FindCommand(int id); // null when the id is no command

const std::vector<Menu> &MainMenu();    // menu 128, while no tree window is open
const std::vector<Menu> &TreeMenu();    // menu 129, the menu bar of a tree window
const Menu &ShortcutMenu();             // the "Shortcut" submenu of menu 148
const std::vector<int> &ToolbarSlots(); // 17 slots, 0 for a separator

// The help keyword of a help command, as the main frame (no tree window
// open) or a tree view asks for it; null for any other command.
const char *HelpKeyword(int id, bool inTreeView);

// One QAction per command, children of owner, with object name, text,
// shortcuts, prompt, tooltip, icon and the command id as data(). The five
// display modes form one exclusive group.
class CommandActions
{
public:
    explicit CommandActions(QObject *owner);

    QAction *action(int id) const; // null when the id is no command
    const std::vector<QAction *> &all() const { return m_actions; }
    QActionGroup *displayModes() const { return m_displayModes; }

    // Menus are built from these actions. An entry whose text differs from
    // its command's gets an action of its own in that menu that triggers the
    // command's action and follows its enabled and checked state.
    void fillMenuBar(QMenuBar *bar, const std::vector<Menu> &menus) const;
    QMenu *buildMenu(const Menu &menu, QWidget *parent) const;
    void fillToolBar(QToolBar *bar) const;

private:
    void addEntries(QMenu *menu, const std::vector<MenuEntry> &entries) const;

    std::vector<QAction *> m_actions;
    QActionGroup *m_displayModes = nullptr;
};

} // namespace sylvix
