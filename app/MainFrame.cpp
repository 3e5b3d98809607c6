#include "app/MainFrame.h"

#include "app/AppState.h"
#include "app/ListtestDoc.h"
#include "dialogs/HelpWindow.h"
#include "model/SiteNode.h"
#include "resources/CommandTable.h"
#include "resources/Icons.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QToolBar>

namespace sylvix {

namespace {

CMainFrame *g_frame = nullptr;

// A tree window: asks its document before it closes.
class TreeChildFrame : public QMdiSubWindow
{
public:
    TreeChildFrame(CListtestDoc *doc, QWidget *parent) : QMdiSubWindow(parent), m_doc(doc)
    {
        setAttribute(Qt::WA_DeleteOnClose);
    }

protected:
    void closeEvent(QCloseEvent *event) override
    {
        if (!m_doc->CanCloseFrame()) {
            event->ignore();
            return;
        }
        QMdiSubWindow::closeEvent(event);
    }

private:
    CListtestDoc *m_doc;
};

} // namespace

CMainFrame::CMainFrame(QWidget *parent) : QMainWindow(parent)
{
    g_frame = this;
    setObjectName(QStringLiteral("mainFrame"));
    setWindowTitle(QStringLiteral("Norvane Sylvix"));
    setWindowIcon(Icon("MAIN_ICON"));
    m_mdi = new QMdiArea(this);
    m_mdi->setObjectName(QStringLiteral("mdiArea"));
    setCentralWidget(m_mdi);

    createActions();
    createMenus();
    createToolBar();

    m_statusPane = new QLabel(QStringLiteral("Norvane Sylvix"), this);
    m_statusPane->setObjectName(QStringLiteral("statusPane"));
    statusBar()->setObjectName(QStringLiteral("statusBar"));
    statusBar()->addWidget(m_statusPane, 1);

    connect(m_mdi, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow *active) {
        for (QMdiSubWindow *w : m_mdi->subWindowList())
            if (auto *view = dynamic_cast<DocView *>(w->widget()))
                view->OnActivateView(w == active);
        showMenuBarFor(activeView() != nullptr);
        UpdateCommands();
    });
    showMenuBarFor(false);
    resize(800, 600);
    UpdateCommands();
}

CMainFrame::~CMainFrame()
{
    m_destroying = true;
    // Every tree window and document goes before the first tree they may show,
    // closed ones still waiting for deletion included.
    for (QMdiSubWindow *w : m_mdi->findChildren<QMdiSubWindow *>())
        delete w;
    for (CListtestDoc *doc : findChildren<CListtestDoc *>(Qt::FindDirectChildrenOnly))
        delete doc;
    if (firstTreeRoot) {
        FreeNode(firstTreeRoot);
        firstTreeRoot = nullptr;
    }
    if (g_frame == this)
        g_frame = nullptr;
}

CMainFrame *CMainFrame::instance()
{
    return g_frame;
}

void CMainFrame::createActions()
{
    m_commands = new CommandActions(this);
    for (QAction *a : m_commands->all()) {
        const int id = a->data().toInt();
        connect(a, &QAction::triggered, this, [this, id] {
            RouteCommand(id);
            UpdateCommands();
        });
        addAction(a); // its accelerator works in every window of the frame
        m_actions[id] = a;
    }
}

void CMainFrame::createMenus()
{
    auto build = [this](const std::vector<Menu> &menus, QList<QMenu *> &out) {
        for (const Menu &spec : menus) {
            QMenu *menu = m_commands->buildMenu(spec, this);
            connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommands);
            out.push_back(menu);
        }
    };
    build(MainMenu(), m_frameMenus);
    build(TreeMenu(), m_treeMenus);
}

void CMainFrame::createToolBar()
{
    m_toolBar = addToolBar(QStringLiteral("Toolbar"));
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setIconSize(QSize(16, 16));
    m_commands->fillToolBar(m_toolBar);
}

void CMainFrame::showMenuBarFor(bool treeWindow)
{
    if (treeWindow == m_treeMenusShown && !menuBar()->actions().isEmpty())
        return;
    m_treeMenusShown = treeWindow;
    menuBar()->clear();
    for (QMenu *m : treeWindow ? m_treeMenus : m_frameMenus)
        menuBar()->addMenu(m);
}

QAction *CMainFrame::action(int id) const
{
    auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

DocView *CMainFrame::activeView() const
{
    QMdiSubWindow *w = m_mdi->activeSubWindow();
    return w ? dynamic_cast<DocView *>(w->widget()) : nullptr;
}

void CMainFrame::UpdateCommands()
{
    if (m_destroying)
        return;
    DocView *view = activeView();
    for (auto &[id, a] : m_actions) {
        CommandState state;
        const bool handled = (view && view->UpdateCommand(id, state)) || UpdateCommand(id, state)
                             || (m_app && m_app->UpdateCommand(id, state));
        if (!handled)
            state = CommandState{}; // nobody runs it: off
        a->setEnabled(state.enabled);
        if (a->isCheckable())
            a->setChecked(state.checked);
    }
}

bool CMainFrame::RouteCommand(int id)
{
    CommandState state;
    DocView *view = activeView();
    if (view && view->UpdateCommand(id, state)) {
        if (!state.enabled)
            return false;
        if (view->OnCommand(id))
            return true;
    }
    if (UpdateCommand(id, state)) {
        if (!state.enabled)
            return false;
        if (OnCommand(id))
            return true;
    }
    if (m_app && m_app->UpdateCommand(id, state) && state.enabled)
        return m_app->OnCommand(id);
    return false;
}

bool CMainFrame::UpdateCommand(int id, CommandState &state)
{
    const bool window = m_mdi->activeSubWindow() != nullptr;
    switch (id) {
    case ID_FILE_OPEN: state.enabled = false; return true;
    case ID_APP_EXIT: state.enabled = true; return true;
    case ID_VIEW_TOOLBAR:
        state.enabled = true;
        state.checked = m_toolBar->isVisible();
        return true;
    case ID_VIEW_STATUS_BAR:
        state.enabled = true;
        state.checked = statusBar()->isVisible();
        return true;
    case ID_WINDOW_NEW:
        // A new window examines its copy of the tree: not inside an expansion.
        state.enabled = window && !busy;
        return true;
    case ID_WINDOW_CASCADE:
    case ID_WINDOW_TILE:
    case ID_WINDOW_ARRANGE: state.enabled = window; return true;
    default: break;
    }
    if (HelpKeyword(id, false)) {
        state.enabled = true;
        return true;
    }
    return false;
}

bool CMainFrame::OnCommand(int id)
{
    switch (id) {
    case ID_APP_EXIT: close(); return true;
    case ID_VIEW_TOOLBAR: m_toolBar->setVisible(!m_toolBar->isVisible()); return true;
    case ID_VIEW_STATUS_BAR: statusBar()->setVisible(!statusBar()->isVisible()); return true;
    case ID_WINDOW_NEW: OpenNewWindow(); return true;
    case ID_WINDOW_CASCADE: m_mdi->cascadeSubWindows(); return true;
    case ID_WINDOW_TILE: m_mdi->tileSubWindows(); return true;
    case ID_WINDOW_ARRANGE:
        // Minimised windows line up along the bottom, as tiling leaves them.
        for (QMdiSubWindow *w : m_mdi->subWindowList())
            if (w->isMinimized())
                w->showMinimized();
        return true;
    default: break;
    }
    if (const char *keyword = HelpKeyword(id, false)) {
        ShowHelp(QString::fromUtf8(keyword));
        return true;
    }
    return false;
}

bool CMainFrame::OpenNewDocument()
{
    auto *doc = new CListtestDoc(this);
    if (!doc->OnNewDocument()) {
        delete doc;
        return false;
    }
    if (!addWindow(doc)) {
        delete doc;
        return false;
    }
    return true;
}

bool CMainFrame::OpenNewWindow()
{
    DocView *view = activeView();
    if (!view || !view->document())
        return false;
    return addWindow(view->document()) != nullptr;
}

QMdiSubWindow *CMainFrame::addWindow(CListtestDoc *doc)
{
    if (!m_viewFactory)
        return nullptr;
    auto *child = new TreeChildFrame(doc, nullptr);
    DocView *view = m_viewFactory(doc);
    child->setWidget(view->widget());
    child->setWindowIcon(windowIcon());
    m_mdi->addSubWindow(child);
    connect(child, &QObject::destroyed, this, [this, guard = QPointer<CListtestDoc>(doc)] {
        if (m_destroying)
            return;
        if (guard && !guard->views().empty())
            updateWindowTitles(guard);
        UpdateCommands();
    });
    updateWindowTitles(doc);
    // The MDI area is not laid out before the frame first shows.
    child->resize(width() * 3 / 4, height() * 2 / 3);
    child->show();
    m_mdi->setActiveSubWindow(child);
    return child;
}

void CMainFrame::updateWindowTitles(CListtestDoc *doc)
{
    const auto &views = doc->views();
    for (size_t i = 0; i < views.size(); ++i) {
        QString title = doc->title();
        if (views.size() > 1)
            title += QStringLiteral(":%1").arg(i + 1);
        if (QWidget *w = views[i]->widget()->parentWidget())
            w->setWindowTitle(title);
    }
}

void CMainFrame::SetStatusText(const QString &text)
{
    if (m_statusPane->text() == text)
        return;
    m_statusPane->setText(text);
    // Callers are inside long loops that do not return to the event loop.
    statusBar()->repaint();
}

QString CMainFrame::statusText() const
{
    return m_statusPane->text();
}

void CMainFrame::closeEvent(QCloseEvent *event)
{
    if (busy) {
        event->ignore();
        return;
    }
    m_mdi->closeAllSubWindows();
    if (!m_mdi->subWindowList().isEmpty()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

} // namespace sylvix
