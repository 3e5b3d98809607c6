#include "tree/ListtestView.h"

#include "app/AppState.h"
#include "app/ListtestDoc.h"
#include "app/MainFrame.h"
#include "app/Tools.h"
#include "dialogs/HelpWindow.h"
#include "model/Display.h"
#include "model/Events.h"
#include "model/Expand.h"
#include "model/Notify.h"
#include "model/SiteNode.h"
#include "resources/CommandTable.h"
#include "resources/Icons.h"
#include "tree/TreeListBox.h"
#include "tree/ViewRow.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QVBoxLayout>

#include <unordered_set>

namespace sylvix {

namespace {

// Commands of the table whose work arrives with later parts of the program;
// their rules are kept, and they stay off until the work is there.
bool workAvailable(int id)
{
    switch (id) {
    case ID_PROPERTIES:
    case ID_PROPS_ACCESS:
    case ID_PROPS_DIAGNOSTICS:
    case ID_PROPS_ACTIVITY:
    case ID_FIND_NODE:
    case ID_FIND_NEXT:
    case ID_VIEW_REFRESH: return false;
    default: return true;
    }
}

} // namespace

CListtestView::CListtestView(CListtestDoc *doc, QWidget *parent) : QWidget(parent), m_doc(doc)
{
    setObjectName(QStringLiteral("treeView"));
    busy = 0;
    m_doc->addView(this);
    connect(m_doc, &CListtestDoc::outOfDate, this, [this] { SetOutOfDate(1); });
    OnInitialUpdate();
}

CListtestView::~CListtestView()
{
    unlinkRows();
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
    m_rows.push_back(std::make_unique<CViewRow>());
    CTreeRow *row = m_rows.back().get();
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
    // The refresh of changed documents runs in the next paint once it is there.
    update();
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
    case ID_FIND_NEXT: rule = false; break; // no search has been made yet
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
    state.enabled = rule && workAvailable(id);
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

void CListtestView::unlinkRows()
{
    // Walk the live tree from the root, not the rows: a row may outlive the
    // node it once showed.
    std::unordered_set<const CTreeRow *> mine;
    for (const auto &row : m_rows)
        mine.insert(row.get());
    std::vector<SiteNode *> stack;
    if (m_root)
        stack.push_back(m_root);
    while (!stack.empty()) {
        SiteNode *node = stack.back();
        stack.pop_back();
        auto *row = static_cast<CTreeRow *>(node->viewItem);
        if (!row || !mine.count(row))
            continue;
        node->viewItem = nullptr;
        if (row->everExpanded && !node->mirrorPending())
            for (SiteNode *c = node->firstChild(); c; c = c->nextSibling())
                stack.push_back(c);
    }
}

} // namespace sylvix
