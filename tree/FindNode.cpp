// Find Node and Find Next Node: search the whole site tree, examining and
// parsing documents on the way, then open the rows down to the match.

#include "tree/ListtestView.h"

#include "app/AppState.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "dialogs/CFindNodeDlg.h"
#include "dialogs/CFindProgressDlg.h"
#include "dialogs/FindState.h"
#include "model/Events.h"
#include "model/Notify.h"
#include "model/Search.h"
#include "model/SiteNode.h"
#include "tree/TreeListBox.h"
#include "tree/TreeRow.h"

namespace sylvix {

namespace {

QWidget *mainWindow(QWidget *fallback)
{
    if (CMainFrame *frame = CMainFrame::instance())
        return frame;
    return fallback;
}

void updateCommands()
{
    if (CMainFrame *frame = CMainFrame::instance())
        frame->UpdateCommands();
}

// Row drawing off for a scope; an enclosing suspension is left as it was.
class DrawingSuspended
{
public:
    explicit DrawingSuspended(CTreeListBox *list) : m_list(list), m_was(list->drawingEnabled())
    {
        m_list->SetDrawingEnabled(0);
    }
    ~DrawingSuspended() { m_list->SetDrawingEnabled(m_was ? 1 : 0); }
    DrawingSuspended(const DrawingSuspended &) = delete;
    DrawingSuspended &operator=(const DrawingSuspended &) = delete;

private:
    CTreeListBox *m_list;
    bool m_was;
};

// Walks on from path[depth - 1] with the progress window up; the new depth
// as SearchTree gives it.
int searchWithProgress(CListtestView &view, std::vector<SiteNode *> &path, int depth,
                       const SearchQuery &query, bool skipFirst)
{
    // A Stop left over from before is not meant for this search.
    RequestCancel(0);
    // Busy keeps the window and its tree from closing under the walk and a
    // second search from starting inside this one.
    busy = 1;
    updateCommands();
    auto progress = std::make_unique<CFindProgressDlg>(QString::fromStdString(query.text), &view);
    progress->show();
    SearchOptions options;
    options.progress
        = [&progress](const SiteNode *node) { return progress->Progress(node->url.view()); };
    depth = SearchTree(path, depth, query, skipFirst, options);
    progress.reset();
    busy = 0;
    updateCommands();
    return depth;
}

// Shows the outcome of a search: the match revealed and selected, or the
// no-match message captioned caption (a cancelled search shows nothing).
void showOutcome(CListtestView &view, const std::vector<SiteNode *> &path, int depth,
                 const QString &caption)
{
    const bool fileNames = view.displayMode() == ModeFileName;
    if (depth > 0) {
        {
            DrawingSuspended suspended(view.treeList());
            view.RevealPath(path.data(), depth);
        }
        // Resolution on the way may have moved files.
        if (fileNames)
            view.RefreshRowTexts();
        view.InvalidateTree();
        view.SelectNode(path[size_t(depth) - 1]);
    } else {
        if (fileNames) {
            view.RefreshRowTexts();
            view.InvalidateTree();
        }
        if (depth == 0)
            MessageBox::information(mainWindow(&view),
                                    QStringLiteral("No match in the rest of your web."), caption);
    }
    ShowStatusText("Norvane Sylvix");
}

} // namespace

void CListtestView::OnFindNode()
{
    CFindNodeDlg dlg(mainWindow(this));
    dlg.field = m_displayMode;
    dlg.matchCase = lastSearch.matchCase;
    dlg.broken = (lastSearch.flags & BROKEN) ? 1 : 0;
    dlg.isVirtual = (lastSearch.flags & VIRTUAL) ? 1 : 0;
    dlg.external = (lastSearch.flags & EXTERNAL) ? 1 : 0;
    if (lastSearch.text)
        dlg.text = QString::fromStdString(*lastSearch.text);
    if (dlg.exec() != CFindNodeDlg::kFindResult || !m_root) {
        ShowStatusText("Norvane Sylvix");
        return;
    }
    const SearchQuery query{lastSearch.text.value_or(std::string()), DisplayMode(dlg.field),
                            dlg.matchCase != 0, dlg.requiredFlags()};
    std::vector<SiteNode *> path{m_root};
    const int depth = searchWithProgress(*this, path, 1, query, false);
    showOutcome(*this, path, depth, QStringLiteral("Find Node"));
    if (depth > 0) {
        lastSearch.field = dlg.field;
        lastSearch.matchCase = dlg.matchCase;
        lastSearch.flags = query.requiredFlags;
        updateCommands();
    }
}

void CListtestView::OnFindNextNode()
{
    const CTreeRow *row = m_treeList->SelectedRow();
    if (!row)
        return;
    std::vector<SiteNode *> path = PathTo(row->node);
    const SearchQuery query{lastSearch.text.value_or(std::string()), DisplayMode(lastSearch.field),
                            lastSearch.matchCase != 0, lastSearch.flags};
    const int depth = searchWithProgress(*this, path, int(path.size()), query, true);
    showOutcome(*this, path, depth, QStringLiteral("Find Next"));
}

void CListtestView::RevealPath(SiteNode *const *path, int depth)
{
    // Each step opens the row of path[i] so that the row of path[i + 1] exists.
    for (int i = 0; i + 1 < depth; ++i) {
        CTreeRow *row = rowOf(path[i]);
        if (!row || m_treeList->FindRow(row) < 0)
            return;
        if (row->expanded)
            continue;
        // The walk may have given a shown node its first children.
        if (!row->expandable && !row->node->hasChildren())
            return;
        int ok;
        {
            DrawingSuspended suspended(m_treeList);
            ok = ExpandRow(row);
        }
        InvalidateTree();
        if (!ok)
            return;
    }
}

} // namespace sylvix
