#include "resources/CommandTable.h"

#include "resources/Icons.h"

#include <QAction>
#include <QActionGroup>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

namespace sylvix {

const std::vector<Command> &Commands()
{
    // clang-format off
    static const std::vector<Command> commands = {
        {ID_FILE_NEW, "actionFileNewTree", "&New Tree...\tCtrl+N", "Ctrl+N",
         "Open a window with new URL as root", "New Tree", "TB_NEW_TREE", false},
        {ID_FILE_OPEN, "actionFileOpen", "&Open...\tCtrl+O", "Ctrl+O",
         "Open viewer/editor for the selected node", "Open", "TB_OPEN", false},
        {ID_PROPERTIES, "actionFileProperties", "Properties...\tAlt+Enter", "Alt+Return; Alt+Enter",
         "Display node properties", "Properties", "TB_PROPERTIES", false},
        {ID_BROWSER_PREVIEW, "actionFileBrowserPreview", "Browser Preview...\tCtrl+B", "Ctrl+B",
         "Document Preview  through an Internet Browser", "Browser Preview", "TB_PREVIEW", false},
        {ID_PREFERENCES, "actionFilePreferences", "Preferences...", nullptr,
         "Specify Sylvix preferences", "Preferences", nullptr, false},
        {ID_APP_EXIT, "actionFileExit", "E&xit", nullptr,
         "Quit the application", "Exit", nullptr, false},
        {ID_FIND_NODE, "actionSearchFindNode", "&Find Node...", nullptr,
         "Find node containing substring", "Find node", "TB_FIND", false},
        {ID_FIND_NEXT, "actionSearchFindNextNode", "Find &Next Node", nullptr,
         "Find next node containing substring", "Find next node", "TB_FIND_NEXT", false},
        {ID_VIEW_HYPERLINK, "actionViewHyperlink", "&Hyperlink", nullptr,
         "View by hyperlinks", "View by hyperlinks", nullptr, true},
        {ID_VIEW_FILENAME, "actionViewFileName", "&File Name", nullptr,
         "View by file names", "View by file names", nullptr, true},
        {ID_VIEW_TITLE, "actionViewTitle", "T&itle", nullptr,
         "View by titles", "View by titles", nullptr, true},
        {ID_VIEW_LABEL, "actionViewLabel", "&Label", nullptr,
         "View by labels", "View by labels", nullptr, true},
        {ID_VIEW_URL, "actionViewUrl", "&URL", nullptr,
         "View by URLs", "View by URLs", nullptr, true},
        {ID_VIEW_TOOLBAR, "actionViewToolbar", "&Toolbar", nullptr,
         "Show or hide the toolbar", "Toolbar", nullptr, true},
        {ID_VIEW_STATUS_BAR, "actionViewStatusBar", "&Status Bar", nullptr,
         "Show or hide the status bar", "Status Bar", nullptr, true},
        {ID_VIEW_REFRESH, "actionViewRefresh", "&Refresh", nullptr,
         "Refresh Display", "Refresh Display", nullptr, false},
        {ID_VIEW_STOP, "actionViewStop", "St&op", nullptr,
         "Stop current operation", "Stop", "TB_STOP", false},
        {ID_TREE_EXPAND, "actionTreeExpand", "E&xpand\t+", "+",
         "Expand selected node", "Expand", nullptr, false},
        {ID_TREE_COLLAPSE, "actionTreeCollapse", "&Collapse\t-", "-",
         "Collapse selected node", "Collapse", nullptr, false},
        {ID_TOOL_ADMIN, "actionToolsServerAdmin", "&Server Admin ...", nullptr,
         "Run server administration tool", "Server Administration", "TB_ADMIN", false},
        {ID_TOOL_LEXMILL, "actionToolsLexmill", "Lex&mill ...", nullptr,
         "Run Lexmill tool", "Lexmill", "TB_LEXMILL", false},
        {ID_TOOL_AREAPAD, "actionToolsImageMapEditor", "Image &Map Editor ...", nullptr,
         "Run image map editor", "Image Map Editor", "TB_AREAPAD", false},
        {ID_TOOL_NUMBREL, "actionToolsNumbrel", "&Numbrel ...", nullptr,
         "Run Numbrel Tool", "Numbrel", "TB_NUMBREL", false},
        {ID_WIZARDS, "actionToolsWizards", "&Wizards ...", nullptr,
         "Run Wizards", "Wizards", "TB_WIZARDS", false},
        {ID_WINDOW_NEW, "actionWindowNew", "&New Window", nullptr,
         "Open another window on the active tree", "New Window", nullptr, false},
        {ID_WINDOW_CASCADE, "actionWindowCascade", "&Cascade", nullptr,
         "Arrange the windows so that they overlap", "Cascade Windows", nullptr, false},
        {ID_WINDOW_TILE, "actionWindowTile", "&Tile", nullptr,
         "Arrange the windows side by side", "Tile Windows", nullptr, false},
        {ID_WINDOW_ARRANGE, "actionWindowArrangeIcons", "&Arrange Icons", nullptr,
         "Arrange the icons of minimized windows", "Arrange Icons", nullptr, false},
        {ID_HELP_CONTENTS, "actionHelpContents", "&Contents\tF1", "F1",
         "Help", "Help", "TB_HELP", false},
        {ID_HELP_MENUS, "actionHelpMenus", "&Menus", nullptr,
         "Help on menus", "Help on menus", nullptr, false},
        {ID_HELP_ICONS, "actionHelpIcons", "&Icons", nullptr,
         "Help on icons", "Help on icons", nullptr, false},
        {ID_HELP_KEYS, "actionHelpKeys", "&Keys", nullptr,
         "Help on keys", "Help on keys", nullptr, false},
        {ID_HELP_COMMANDLINE, "actionHelpCommandLine", "Command &Line", nullptr,
         "Help on command line", "Help on command line", nullptr, false},
        {ID_HELP_INDEX, "actionHelpIndex", "Inde&x", nullptr,
         "Index of Sylvix help topics ...", "", nullptr, false},
        {ID_HELP_GLOSSARY, "actionHelpGlossary", "&Glossary", nullptr,
         "Glossary of Sylvix help terms ...", "", nullptr, false},
        {ID_APP_ABOUT, "actionHelpAbout", "&About Sylvix ...", nullptr,
         "Display program information, version number and copyright", "About", nullptr, false},
        {ID_PROPS_DIAGNOSTICS, "actionPropertiesDiagnostics", "Diagnostics...", nullptr,
         "Display the parser's messages on the document", "Diagnostics", nullptr, false},
        {ID_PROPS_ACCESS, "actionPropertiesAccessControl", "Access Control...", nullptr,
         "Display the server's access control for the node's URL path", "Access Control",
         nullptr, false},
        {ID_PROPS_ACTIVITY, "actionPropertiesActivity", "Activity...", nullptr,
         "Display the server's log entries for the node", "Activity", nullptr, false},
    };
    // clang-format on
    return commands;
}

const Command *FindCommand(int id)
{
    for (const Command &c : Commands()) {
        if (c.id == id)
            return &c;
    }
    return nullptr;
}

namespace {

const std::vector<MenuEntry> &ViewEntries()
{
    static const std::vector<MenuEntry> entries = {
        {ID_VIEW_HYPERLINK}, {ID_VIEW_FILENAME},   {ID_VIEW_TITLE},
        {ID_VIEW_LABEL},     {ID_VIEW_URL},        {},
        {ID_VIEW_TOOLBAR},   {ID_VIEW_STATUS_BAR}, {},
        {ID_VIEW_REFRESH},   {ID_VIEW_STOP},
    };
    return entries;
}

std::vector<MenuEntry> HelpEntries(const char *contentsText)
{
    return {{ID_HELP_CONTENTS, contentsText},
            {ID_HELP_MENUS},
            {ID_HELP_ICONS},
            {ID_HELP_KEYS},
            {ID_HELP_COMMANDLINE},
            {ID_HELP_INDEX},
            {ID_HELP_GLOSSARY},
            {},
            {ID_APP_ABOUT}};
}

} // namespace

const std::vector<Menu> &MainMenu()
{
    static const std::vector<Menu> menus = {
        {"&File", {{ID_FILE_NEW}, {ID_FILE_OPEN}, {ID_PREFERENCES}, {}, {ID_APP_EXIT}}},
        {"&View", ViewEntries()},
        {"T&ools", {{ID_TOOL_ADMIN}, {ID_TOOL_LEXMILL}, {ID_TOOL_AREAPAD}, {ID_TOOL_NUMBREL}}},
        {"&Help", HelpEntries(nullptr)},
    };
    return menus;
}

const std::vector<Menu> &TreeMenu()
{
    static const std::vector<Menu> menus = {
        {"&File",
         {{ID_FILE_NEW},
          {ID_FILE_OPEN},
          {ID_PROPERTIES},
          {ID_BROWSER_PREVIEW},
          {ID_PREFERENCES},
          {},
          {ID_APP_EXIT}}},
        {"&Search", {{ID_FIND_NODE}, {ID_FIND_NEXT}}},
        {"&View", ViewEntries()},
        {"&Tree", {{ID_TREE_EXPAND}, {ID_TREE_COLLAPSE}}},
        {"T&ools",
         {{ID_TOOL_ADMIN}, {ID_TOOL_LEXMILL}, {ID_TOOL_AREAPAD}, {ID_TOOL_NUMBREL}, {ID_WIZARDS}}},
        {"&Window", {{ID_WINDOW_NEW}, {ID_WINDOW_CASCADE}, {ID_WINDOW_TILE}, {ID_WINDOW_ARRANGE}}},
        {"&Help", HelpEntries("&Contents \tF1")},
    };
    return menus;
}

const Menu &ShortcutMenu()
{
    static const Menu menu = {"Shortcut",
                              {{ID_FILE_OPEN, "Open..."},
                               {0,
                                "Properties",
                                {{ID_PROPERTIES, "General..."},
                                 {ID_PROPS_DIAGNOSTICS, "Diagnostics..."},
                                 {ID_PROPS_ACCESS, "Access Control..."},
                                 {ID_PROPS_ACTIVITY, "Activity..."}}},
                               {ID_BROWSER_PREVIEW, "Browser Preview..."},
                               {ID_WIZARDS, "Wizards..."}}};
    return menu;
}

const std::vector<int> &ToolbarSlots()
{
    static const std::vector<int> buttons = {
        ID_FILE_NEW,
        ID_FILE_OPEN,
        ID_PROPERTIES,
        ID_BROWSER_PREVIEW,
        0,
        ID_FIND_NODE,
        ID_FIND_NEXT,
        0,
        ID_TOOL_ADMIN,
        ID_TOOL_LEXMILL,
        ID_TOOL_AREAPAD,
        ID_TOOL_NUMBREL,
        ID_WIZARDS,
        0,
        ID_VIEW_STOP,
        0,
        ID_HELP_CONTENTS,
    };
    return buttons;
}

const char *HelpKeyword(int id, bool inTreeView)
{
    struct Keyword
    {
        int id;
        const char *frame;
        const char *view;
    };
    static constexpr Keyword keywords[] = {
        {ID_HELP_CONTENTS, "contents", "contents"},
        {ID_HELP_MENUS, "menus", "Menus"},
        {ID_HELP_ICONS, "icons", "Icons"},
        {ID_HELP_KEYS, "keyboard", "Keyboard"},
        {ID_HELP_COMMANDLINE, "command line", "Command line"},
        {ID_HELP_INDEX, "index", "Index"},
        {ID_HELP_GLOSSARY, "glossary", "Glossary"},
    };
    for (const Keyword &k : keywords) {
        if (k.id == id)
            return inTreeView ? k.view : k.frame;
    }
    return nullptr;
}

CommandActions::CommandActions(QObject *owner) : m_displayModes(new QActionGroup(owner))
{
    m_displayModes->setExclusive(true);
    for (const Command &c : Commands()) {
        auto *a = new QAction(QString::fromUtf8(c.text), owner);
        a->setObjectName(QLatin1String(c.objectName));
        a->setData(c.id);
        if (c.shortcut)
            a->setShortcuts(QKeySequence::listFromString(QLatin1String(c.shortcut)));
        a->setStatusTip(QString::fromUtf8(c.prompt));
        a->setToolTip(QString::fromUtf8(c.tooltip));
        if (c.icon)
            a->setIcon(Icon(c.icon));
        a->setCheckable(c.checkable);
        if (c.id >= ID_VIEW_HYPERLINK && c.id <= ID_VIEW_URL)
            m_displayModes->addAction(a);
        m_actions.push_back(a);
    }
}

QAction *CommandActions::action(int id) const
{
    for (QAction *a : m_actions) {
        if (a->data().toInt() == id)
            return a;
    }
    return nullptr;
}

void CommandActions::addEntries(QMenu *menu, const std::vector<MenuEntry> &entries) const
{
    for (const MenuEntry &e : entries) {
        if (!e.submenu.empty()) {
            addEntries(menu->addMenu(QString::fromUtf8(e.text)), e.submenu);
            continue;
        }
        QAction *base = action(e.id);
        if (!base) {
            menu->addSeparator();
            continue;
        }
        const QString text = e.text ? QString::fromUtf8(e.text) : base->text();
        if (text == base->text()) {
            menu->addAction(base);
            continue;
        }
        // Same command under another text: a stand-in that follows the command.
        auto *proxy = new QAction(text, menu);
        proxy->setData(base->data());
        proxy->setStatusTip(base->statusTip());
        proxy->setCheckable(base->isCheckable());
        auto follow = [proxy, base] {
            proxy->setEnabled(base->isEnabled());
            proxy->setChecked(base->isChecked());
        };
        follow();
        QObject::connect(base, &QAction::changed, proxy, follow);
        QObject::connect(proxy, &QAction::triggered, base, &QAction::trigger);
        menu->addAction(proxy);
    }
}

QMenu *CommandActions::buildMenu(const Menu &menu, QWidget *parent) const
{
    auto *m = new QMenu(QString::fromUtf8(menu.title), parent);
    addEntries(m, menu.entries);
    return m;
}

void CommandActions::fillMenuBar(QMenuBar *bar, const std::vector<Menu> &menus) const
{
    for (const Menu &menu : menus)
        bar->addMenu(buildMenu(menu, bar));
}

void CommandActions::fillToolBar(QToolBar *bar) const
{
    for (int id : ToolbarSlots()) {
        if (QAction *a = action(id))
            bar->addAction(a);
        else
            bar->addSeparator();
    }
}

} // namespace sylvix
