#include "tree/ListtestView.h"

#include "app/AppState.h"
#include "app/ListtestDoc.h"
#include "app/MainFrame.h"
#include "app/Tools.h"
#include "dialogs/FindState.h"
#include "dialogs/HelpWindow.h"
#include "model/Display.h"
#include "model/Events.h"
#include "model/Expand.h"
#include "model/Notify.h"
#include "model/SiteNode.h"
#include "model/ViewHooks.h"
#include "props/CNodeProperties.h"
#include "resources/CommandTable.h"
#include "resources/Icons.h"
#include "tree/TreeListBox.h"
#include "tree/ViewRow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>
#include <QVBoxLayout>

#include <string>

namespace sylvix {

namespace {

// How long a refresh that cannot run yet waits before it asks again.
constexpr int kRefreshRetryMs = 100;
// Mirrors of mirrors are copied again one chain link per round.
constexpr int kMirrorRounds = 16;

CListtestView *ownerOf(const SiteNode *node)
{
    auto *row = static_cast<CViewRow *>(node->viewItem);
    return row ? row->owner : nullptr;
}

// The URLs from the root row down to row i: a page's place in the tree,
// which outlives the nodes a re-parse replaces.
class RowPaths
{
public:
    const std::string &at(const CTreeRow *row)
    {
        m_path.resize(size_t(std::max<int>(row->level, 0)));
        m_path.push_back(row->node->url.str());
        m_key.clear();
        for (const std::string &part : m_path) {
            m_key += part;
            m_key += '\n';
        }
        return m_key;
    }

private:
    std::vector<std::string> m_path;
    std::string m_key;
};

} // namespace

// Nodes that have rows tell their view when their children change, so that
// no row outlives its node.
struct RowHooks
{
    static void install()
    {
        static bool installed = false;
        if (installed)
            return;
        installed = true;
        ViewHooks hooks;
        hooks.childrenAboutToBeFreed = [](SiteNode *parent, uint32_t) {
            if (CListtestView *view = ownerOf(parent))
                view->childrenGoing(view->rowOf(parent));
        };
        auto changed = [](SiteNode *parent) {
            if (CListtestView *view = ownerOf(parent))
                view->childrenChanged(view->rowOf(parent));
        };
        hooks.childrenFreed = changed;
        hooks.childrenMirrored = changed;
        hooks.childAppended = [changed](SiteNode *parent, SiteNode *) { changed(parent); };
        hooks.nodeAboutToBeFreed = [](SiteNode *node) {
            if (CListtestView *view = ownerOf(node))
                view->rowGoing(view->rowOf(node));
        };
        InstallViewHooks(std::move(hooks));
    }
};

CListtestView::CListtestView(CListtestDoc *doc, QWidget *parent) : QWidget(parent), m_doc(doc)
{
    setObjectName(QStringLiteral("treeView"));
    busy = 0;
    RowHooks::install();
    m_doc->addView(this);
    connect(m_doc, &CListtestDoc::outOfDate, this, [this] { SetOutOfDate(1); });
    // A refresh held while the property sheet was open runs once it closes.
    connect(&appEvents(), &AppEvents::propertySheetClosed, this, [this] {
        if (m_outOfDate)
            SetOutOfDate(1);
    });
    OnInitialUpdate();
}

CListtestView::~CListtestView()
{
    if (m_treeList)
        m_treeList->RemoveRows(0, m_treeList->RowCount());
    for (CTreeRow *row : m_rows) {
        if (row->node->viewItem == row)
            row->node->viewItem = nullptr;
        delete row;
    }
    m_rows.clear();
    if (m_ownRoot)
        FreeNode(m_root);
    m_doc->removeView(this);
}

void CListtestView::OnInitialUpdate()
{
    if (!m_treeList) {
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        m_treeList = new CTreeListBox(this);
        layout->addWidget(m_treeList);
        m_treeList->setInputBlocked([] { return busy != 0; });
        connect(m_treeList, &CTreeListBox::rowActivated, this, &CListtestView::onRowActivated);
        connect(m_treeList, &CTreeListBox::escapePressed, this, [] { RequestCancel(1); });
        connect(m_treeList, &CTreeListBox::selectedRowChanged, this, &CListtestView::updateFrame);
        connect(m_treeList, &CTreeListBox::shortcutMenuRequested, this,
                &CListtestView::showShortcutMenu);
        setFocusProxy(m_treeList);
    }
    SiteNode *node = m_doc->GetRoot();
    if (!node)
        return;
    // The rows of a tree belong to one view: a root another view shows is
    // copied and examined afresh.
    if (m_doc->views().size() > 1 || node->viewItem) {
        node = CopyNode(node, 0);
        const ReloadResult r = NeedsReload(node);
        if (r == ReloadResult::Stopped
            || (r == ReloadResult::Expand && ExpandNode(node) == ExpandResult::Stopped)) {
            FreeNode(node);
            return;
        }
        m_ownRoot = true;
    }
    CTreeRow *row = CreateRow(0, 0, 0, node);
    m_treeList->AddRow(row);
    m_treeList->SelectRow(row);
    m_root = node;
}

CTreeRow *CListtestView::rowOf(const SiteNode *node) const
{
    return static_cast<CTreeRow *>(node->viewItem);
}

CTreeRow *CListtestView::CreateRow(uint16_t level, int32_t position, uint16_t parentMask,
                                   SiteNode *node)
{
    CTreeRow *row = new CViewRow(this);
    m_rows.insert(row);
    UpdateRow(row, level, position, parentMask, node);
    row->node = node;
    node->viewItem = row;
    return row;
}

void CListtestView::UpdateRow(CTreeRow *row, uint16_t level, int32_t position, uint16_t parentMask,
                              SiteNode *node)
{
    row->text = NodeText(node);
    row->level = int16_t(level);
    row->position = position;
    row->lineMask = parentMask;
    if (position == 1 && level < 16)
        row->lineMask |= uint16_t(1u << level);
    row->wideMask = row->lineMask;
    if (level >= 16) {
        // Past the 16-bit mask, the ancestors themselves say where lines run.
        if (position == 1 && level < CTreeRow::kMaxLineLevel)
            row->wideMask.set(level);
        int i = level - 1;
        for (const SiteNode *a = node->parent(); a && i >= 16; a = a->parent(), --i)
            if (i < CTreeRow::kMaxLineLevel && a->nextSibling())
                row->wideMask.set(size_t(i));
    }
    row->icon = KindIcon(node->kind);
    // Asking for children must not make a mirror's copies.
    row->expandable = node->hasChildren() ? 1 : 0;
    static_cast<CViewRow *>(row)->stateIcons = StateIconNames(node->flags);
}

int CListtestView::ExpandRow(CTreeRow *row)
{
    RequestCancel(0);
    busy = 1;
    updateFrame();
    bool interrupted = false;
    // Every child is examined first; the rows then go in at once.
    std::vector<CTreeRow *> rows;
    SiteNode *child = row->node->firstChild();
    while (child) {
        if (PumpMessages()) {
            interrupted = true;
            break;
        }
        const ReloadResult r = NeedsReload(child);
        if (r == ReloadResult::Stopped
            || (r == ReloadResult::Expand && ExpandNode(child) == ExpandResult::Stopped)) {
            interrupted = true;
            break;
        }
        SiteNode *next = child->nextSibling();
        const int32_t position = next ? 1 : 2;
        const uint16_t level = uint16_t(row->level + 1);
        CTreeRow *childRow = rowOf(child);
        if (childRow)
            UpdateRow(childRow, level, position, row->lineMask, child);
        else
            childRow = CreateRow(level, position, row->lineMask, child);
        childRow->expanded = 0;
        rows.push_back(childRow);
        child = next;
    }
    if (!interrupted) {
        m_treeList->InsertRowsAfter(m_treeList->FindRow(row), rows);
        row->expanded = 1;
        row->expandable = 0;
        row->everExpanded = true;
    } else {
        row->expanded = 0;
        row->expandable = row->node->hasChildren() ? 1 : 0;
    }
    const int index = m_treeList->FindRow(row);
    m_treeList->RowsChanged(index, index);
    busy = 0;
    updateFrame();
    return interrupted ? 0 : 1;
}

void CListtestView::CollapseRow(CTreeRow *row)
{
    const int index = m_treeList->FindRow(row);
    if (index >= 0) {
        // The rows of the whole subtree follow the row, deeper than it.
        int end = index + 1;
        while (CTreeRow *below = m_treeList->RowAt(end)) {
            if (below->level <= row->level)
                break;
            below->expanded = 0;
            below->expandable = below->node->hasChildren() ? 1 : 0;
            ++end;
        }
        m_treeList->RemoveRows(index + 1, end - index - 1);
    }
    row->expandable = row->node->hasChildren() ? 1 : 0;
    row->expanded = 0;
    if (index >= 0)
        m_treeList->RowsChanged(index, index);
    updateFrame();
}

void CListtestView::onRowActivated()
{
    CTreeRow *row = m_treeList->SelectedRow();
    if (!row || busy)
        return;
    if (!m_treeList->BoxClicked()) {
        OpenRow(row);
        return;
    }
    if (row->expanded) {
        CollapseRow(row);
        operationEnded();
    } else if (row->expandable) {
        expandSelected();
        operationEnded();
    }
}

void CListtestView::expandSelected()
{
    CTreeRow *row = m_treeList->SelectedRow();
    if (!row)
        return;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    m_treeList->SetDrawingEnabled(0);
    ExpandRow(row);
    m_treeList->SetDrawingEnabled(1);
    InvalidateTree();
    QGuiApplication::restoreOverrideCursor();
}

void CListtestView::operationEnded()
{
    ShowStatusText("Norvane Sylvix");
}

void CListtestView::SetDisplayMode(int mode)
{
    m_displayMode = mode;
    RefreshRowTexts();
    InvalidateTree();
}

QString CListtestView::NodeText(const SiteNode *node) const
{
    return QString::fromStdString(DisplayText(*node, DisplayMode(m_displayMode)));
}

void CListtestView::RefreshRowTexts()
{
    const int count = m_treeList->RowCount();
    for (int i = 0; i < count; ++i) {
        CTreeRow *row = m_treeList->RowAt(i);
        row->text = NodeText(row->node);
    }
    m_treeList->RowsChanged(0, count - 1);
}

void CListtestView::InvalidateTree()
{
    m_treeList->viewport()->update();
}

void CListtestView::SelectNode(const SiteNode *node)
{
    if (CTreeRow *row = rowOf(node))
        m_treeList->SelectRow(row);
}

void CListtestView::SetOutOfDate(int flag)
{
    m_outOfDate = flag;
    // One refresh is posted however many changes arrive before it runs.
    if (flag && !m_refreshPosted) {
        m_refreshPosted = true;
        QMetaObject::invokeMethod(this, &CListtestView::runDeferredRefresh, Qt::QueuedConnection);
    }
    update();
}

void CListtestView::runDeferredRefresh()
{
    m_refreshPosted = false;
    if (!m_outOfDate || propertySheetOpen)
        return; // the sheet's closing asks again
    // Not inside a running walk over the rows, nor under a modal box whose
    // caller may hold a row.
    if (busy || m_refreshing || QApplication::activeModalWidget()) {
        QTimer::singleShot(kRefreshRetryMs, this, [this] {
            if (m_outOfDate)
                SetOutOfDate(1);
        });
        return;
    }
    m_outOfDate = 0;
    RefreshTree();
}

void CListtestView::RefreshTree()
{
    if (!m_treeList)
        return;
    if (busy || m_refreshing) {
        SetOutOfDate(1); // after the running expansion
        return;
    }
    m_refreshing = true;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    m_treeList->SetDrawingEnabled(0);

    std::unordered_set<std::string> open;
    std::string selected;
    {
        RowPaths paths;
        const CTreeRow *current = m_treeList->SelectedRow();
        for (int i = 0; const CTreeRow *row = m_treeList->RowAt(i); ++i) {
            const std::string &key = paths.at(row);
            if (row->expanded)
                open.insert(key);
            if (row == current)
                selected = key;
        }
    }

    // Rows inserted by a re-expansion come after the row, so this pass
    // visits them too.
    RereadOrder reread;
    RowPaths paths;
    for (int index = 0; CTreeRow *row = m_treeList->RowAt(index); ++index) {
        SiteNode *node = row->node;
        const bool wasOpen = open.count(paths.at(row)) != 0; // every row keeps the path right
        const ReloadResult r = NeedsReload(node);
        if (r != ReloadResult::Expand && (node->flags & BROKEN)) {
            CollapseRow(row);
            FreeChildren(node);
            row->expandable = 0;
            UpdateRow(row, uint16_t(row->level), row->position, row->lineMask, node);
            break;
        }
        if (r == ReloadResult::Expand) {
            freshenSource(node, reread);
            const bool wasExpanded = row->expanded != 0;
            if (wasExpanded)
                CollapseRow(row);
            if (ExpandNode(node) == ExpandResult::Stopped) {
                CollapseRow(row);
                break;
            }
            reread.mark(node);
            UpdateRow(row, uint16_t(row->level), row->position, row->lineMask, node);
            if (wasExpanded && row->expandable)
                ExpandRow(row);
        }
        // A row the user had open, made anew under a re-read page, opens again.
        if (!row->expanded && row->expandable && wasOpen)
            ExpandRow(row);
    }

    readoptMirrors(reread);

    if (!selected.empty()) {
        RowPaths again;
        for (int i = 0; const CTreeRow *row = m_treeList->RowAt(i); ++i)
            if (again.at(row) == selected) {
                m_treeList->SelectRow(row);
                break;
            }
    }
    m_treeList->SetDrawingEnabled(1);
    QGuiApplication::restoreOverrideCursor();
    InvalidateTree();
    m_refreshing = false;
    operationEnded();
}

void CListtestView::freshenSource(SiteNode *mirror, RereadOrder &reread)
{
    // A mirror copies its page's links from the node it mirrors: bring that
    // node up to date first. A source with a row in the list is re-read by
    // the walk itself (and its mirrors copy again afterwards).
    SiteNode *source = mirror->equivalent;
    if (!source || reread.order.count(source))
        return;
    const CTreeRow *sourceRow = rowOf(source);
    if (sourceRow && sourceRow->listed)
        return;
    if (NeedsReload(source) == ReloadResult::Expand && ExpandNode(source) == ExpandResult::Expanded)
        reread.mark(source);
}

void CListtestView::readoptMirrors(RereadOrder &reread)
{
    // A row that mirrors a page may come before that page's own row and so
    // have copied the old links: it copies again whenever its page was read
    // after it. Mirrors of mirrors take one more round each.
    for (int round = 0; round < kMirrorRounds; ++round) {
        bool changed = false;
        for (int index = 0; CTreeRow *row = m_treeList->RowAt(index); ++index) {
            SiteNode *node = row->node;
            const auto source = reread.order.find(node->equivalent);
            if (!node->equivalent || source == reread.order.end())
                continue;
            const auto self = reread.order.find(node);
            if (self != reread.order.end() && self->second > source->second)
                continue;
            const bool wasExpanded = row->expanded != 0;
            if (wasExpanded)
                CollapseRow(row);
            if (ExpandNode(node) == ExpandResult::Stopped)
                return;
            reread.mark(node);
            changed = true;
            UpdateRow(row, uint16_t(row->level), row->position, row->lineMask, node);
            if (wasExpanded && row->expandable)
                ExpandRow(row);
        }
        if (!changed)
            return;
    }
}

void CListtestView::childrenGoing(CTreeRow *row)
{
    // The rows of the children leave the list in one block before their
    // nodes go.
    if (row->expanded)
        CollapseRow(row);
}

void CListtestView::childrenChanged(CTreeRow *row)
{
    if (row->expanded && row->listed) {
        // Children the list does not show arrived under an open row.
        CollapseRow(row);
    } else {
        row->expanded = 0;
        row->expandable = row->node->hasChildren() ? 1 : 0;
    }
    if (m_treeList && row->listed)
        m_treeList->viewport()->update();
}

void CListtestView::rowGoing(CTreeRow *row)
{
    if (m_treeList && row->listed)
        m_treeList->RemoveRow(row);
    if (row->node == m_root)
        m_root = nullptr;
    row->node->viewItem = nullptr;
    m_rows.erase(row);
    delete row;
}

bool CListtestView::UpdateCommand(int id, CommandState &state)
{
    const CTreeRow *row = m_treeList ? m_treeList->SelectedRow() : nullptr;
    const bool selected = row != nullptr;
    const bool idle = busy == 0;
    const uint32_t flags = row ? row->node->flags : 0;
    bool rule = false;
    switch (id) {
    case ID_FILE_NEW:
    case ID_FIND_NODE: rule = idle; break;
    case ID_FILE_OPEN:
    case ID_PROPERTIES:
    case ID_BROWSER_PREVIEW:
    case ID_PREFERENCES:
    case ID_APP_EXIT: rule = idle && selected; break;
    case ID_PROPS_ACCESS:
    case ID_PROPS_ACTIVITY: rule = idle && selected && !(flags & EXTERNAL); break;
    case ID_PROPS_DIAGNOSTICS: rule = idle && selected && row->node->kind == Html; break;
    case ID_FIND_NEXT: rule = idle && CanFindNext(); break;
    case ID_VIEW_HYPERLINK:
    case ID_VIEW_FILENAME:
    case ID_VIEW_TITLE:
    case ID_VIEW_LABEL:
    case ID_VIEW_URL:
        rule = idle;
        state.checked = id - ID_VIEW_HYPERLINK == m_displayMode;
        break;
    case ID_TREE_EXPAND: rule = idle && selected && row->expandable; break;
    case ID_TREE_COLLAPSE: rule = idle && selected && row->expanded; break;
    case ID_WIZARDS:
        rule = idle && selected && !(flags & (EXTERNAL | VIRTUAL)) && !row->node->mimeType.empty();
        break;
    case ID_VIEW_REFRESH:
    case ID_VIEW_STOP:
    case ID_TOOL_ADMIN:
    case ID_TOOL_LEXMILL:
    case ID_TOOL_AREAPAD:
    case ID_TOOL_NUMBREL: rule = true; break;
    default:
        if (!HelpKeyword(id, true))
            return false;
        rule = true;
        break;
    }
    state.enabled = rule;
    return true;
}

bool CListtestView::OnCommand(int id)
{
    switch (id) {
    case ID_VIEW_HYPERLINK:
    case ID_VIEW_FILENAME:
    case ID_VIEW_TITLE:
    case ID_VIEW_LABEL:
    case ID_VIEW_URL: SetDisplayMode(id - ID_VIEW_HYPERLINK); return true;
    case ID_TREE_EXPAND:
        if (m_treeList->SelectedRow()) {
            expandSelected();
            operationEnded();
        }
        return true;
    case ID_TREE_COLLAPSE:
        if (CTreeRow *row = m_treeList->SelectedRow()) {
            CollapseRow(row);
            operationEnded();
        }
        return true;
    case ID_VIEW_STOP: RequestCancel(1); return true;
    case ID_VIEW_REFRESH: RefreshTree(); return true;
    case ID_FIND_NODE: OnFindNode(); return true;
    case ID_FIND_NEXT: OnFindNextNode(); return true;
    case ID_PROPERTIES:
    case ID_PROPS_ACCESS:
    case ID_PROPS_DIAGNOSTICS:
    case ID_PROPS_ACTIVITY:
        OpenProperties(m_treeList->SelectedRow() ? m_treeList->SelectedRow()->node : nullptr,
                       PageForCommand(id), this);
        return true;
    case ID_FILE_OPEN: OpenRow(m_treeList->SelectedRow()); return true;
    case ID_BROWSER_PREVIEW: OnBrowserPreview(); return true;
    case ID_WIZARDS:
        if (CTreeRow *row = m_treeList->SelectedRow())
            RunWizardsCommand(*row->node, this);
        return true;
    default:
        if (IsToolCommand(id)) {
            StartTool(id);
            return true;
        }
        break;
    }
    if (const char *keyword = HelpKeyword(id, true)) {
        ShowHelp(QString::fromUtf8(keyword));
        return true;
    }
    return false; // the document, frame or application runs it
}

void CListtestView::updateFrame() const
{
    if (CMainFrame *frame = CMainFrame::instance())
        frame->UpdateCommands();
}

void CListtestView::showShortcutMenu(const QPoint &globalPos)
{
    CMainFrame *frame = CMainFrame::instance();
    if (!frame)
        return;
    frame->UpdateCommands();
    std::unique_ptr<QMenu> menu(frame->commands()->buildMenu(ShortcutMenu(), nullptr));
    menu->exec(globalPos);
}

void CListtestView::keyPressEvent(QKeyEvent *event)
{
    QWidget::keyPressEvent(event);
    if (event->key() == Qt::Key_Escape)
        RequestCancel(1);
}

void CListtestView::OnActivateView(bool active)
{
    if (m_treeList)
        m_treeList->SetViewActive(active ? 1 : 0);
}

void CListtestView::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    if (m_treeList)
        m_treeList->setFocus();
}

} // namespace sylvix
