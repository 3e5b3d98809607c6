#pragma once

// The main window: an MDI frame holding the tree windows, with the menus,
// the toolbar, a one-pane status bar and the command routing.

#include "app/DocView.h"

#include <QMainWindow>

#include <functional>
#include <map>

class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QToolBar;

namespace sylvix {

class CListtestDoc;
class CommandActions;

class CMainFrame : public QMainWindow, public CommandTarget
{
    Q_OBJECT

public:
    // Makes the view of a tree window on doc (the tree display registers it).
    using ViewFactory = std::function<DocView *(CListtestDoc *doc)>;

    explicit CMainFrame(QWidget *parent = nullptr);
    ~CMainFrame() override;

    static CMainFrame *instance();

    void setViewFactory(ViewFactory factory) { m_viewFactory = std::move(factory); }
    // The next target after the frame: the application's commands.
    void setApplicationTarget(CommandTarget *target) { m_app = target; }

    // A new document and its first window; false when the document refused.
    bool OpenNewDocument();
    // Another window on the active tree window's document.
    bool OpenNewWindow();

    void SetStatusText(const QString &text);
    QString statusText() const;
    QLabel *statusPane() const { return m_statusPane; }

    QAction *action(int id) const;
    QMdiArea *mdiArea() const { return m_mdi; }
    QToolBar *toolBar() const { return m_toolBar; }
    CommandActions *commands() const { return m_commands; }
    DocView *activeView() const;

    // Asks the active view, the frame and the application for the state of
    // every command, and sets the actions.
    void UpdateCommands();
    // Runs id through the same chain; false when nobody handles it.
    bool RouteCommand(int id);

    bool UpdateCommand(int id, CommandState &state) override;
    bool OnCommand(int id) override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createActions();
    void createMenus();
    void createToolBar();
    void showMenuBarFor(bool treeWindow);
    QMdiSubWindow *addWindow(CListtestDoc *doc);
    void updateWindowTitles(CListtestDoc *doc);

    QMdiArea *m_mdi = nullptr;
    QToolBar *m_toolBar = nullptr;
    QLabel *m_statusPane = nullptr;
    CommandActions *m_commands = nullptr;
    std::map<int, QAction *> m_actions;
    QList<QMenu *> m_frameMenus; // menu 128, shown with no tree window
    QList<QMenu *> m_treeMenus;  // menu 129
    bool m_treeMenusShown = false;
    bool m_destroying = false;
    ViewFactory m_viewFactory;
    CommandTarget *m_app = nullptr;
};

} // namespace sylvix
