#pragma once

// A tree window: keeps the rows of its list in step with the part of the
// site tree the user has opened, and answers the tree window's commands.

#include "app/DocView.h"

#include <QWidget>

#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace sylvix {

class CListtestDoc;
class CTreeListBox;
class CTreeRow;
class SiteNode;

enum DisplayModeValue : int { ModeHyperlink = 0, ModeFileName, ModeTitle, ModeLabel, ModeUrl };

class CListtestView : public QWidget, public DocView
{
    Q_OBJECT

public:
    explicit CListtestView(CListtestDoc *doc, QWidget *parent = nullptr);
    ~CListtestView() override;

    // DocView
    QWidget *widget() override { return this; }
    CListtestDoc *document() const override { return m_doc; }
    void SetOutOfDate(int flag) override;
    void OnActivateView(bool active) override;
    bool UpdateCommand(int id, CommandState &state) override;
    bool OnCommand(int id) override;

    CTreeRow *CreateRow(uint16_t level, int32_t position, uint16_t parentMask, SiteNode *node);
    void UpdateRow(CTreeRow *row, uint16_t level, int32_t position, uint16_t parentMask,
                   SiteNode *node);
    void CollapseRow(CTreeRow *row);
    // 1 when every child was shown, 0 when interrupted (the row stays collapsed).
    int ExpandRow(CTreeRow *row);
    void SetDisplayMode(int mode);
    QString NodeText(const SiteNode *node) const;
    void RefreshRowTexts();
    void InvalidateTree();
    // Re-examines every row from the top; rows the user had open and the
    // selection stay where their pages are still linked.
    void RefreshTree();
    void SelectNode(const SiteNode *node);
    // Find Node and Find Next Node (tree/FindNode.cpp).
    void OnFindNode();
    void OnFindNextNode();
    // Expands the rows from path[0] down to path[depth - 1]; stops where an
    // expansion was interrupted.
    void RevealPath(SiteNode *const *path, int depth);
    // Hands the row's document to the program that edits it, creating a
    // missing one first (empty, or by a wizard).
    void OpenRow(CTreeRow *row);
    // Shows the selected row's URL in the browser, ending the one started
    // before.
    void OnBrowserPreview();

    CTreeListBox *treeList() const { return m_treeList; }
    SiteNode *root() const { return m_root; }
    int displayMode() const { return m_displayMode; }
    int outOfDate() const { return m_outOfDate; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    void OnInitialUpdate();
    void onRowActivated();
    // Expand with the list's drawing suspended, then one repaint.
    void expandSelected();
    void operationEnded();
    void updateFrame() const;
    void showShortcutMenu(const QPoint &globalPos);
    void runDeferredRefresh();
    // The nodes a refresh read again, numbered in the order it read them.
    struct RereadOrder
    {
        std::unordered_map<const SiteNode *, size_t> order;
        size_t next = 0;
        void mark(const SiteNode *node) { order[node] = next++; }
    };
    void freshenSource(SiteNode *mirror, RereadOrder &reread);
    void readoptMirrors(RereadOrder &reread);
    CTreeRow *rowOf(const SiteNode *node) const;
    // The association's "open" (xdg-open); a failure is told when it ends.
    void openDocument(const std::string &path);

    // The tree changes under the rows (through the model's view hooks).
    friend struct RowHooks;
    void childrenGoing(CTreeRow *row);
    void childrenChanged(CTreeRow *row);
    void rowGoing(CTreeRow *row);

    CListtestDoc *m_doc;
    CTreeListBox *m_treeList = nullptr;
    int m_displayMode = ModeHyperlink;
    SiteNode *m_root = nullptr;
    int m_outOfDate = 0;
    bool m_ownRoot = false;
    bool m_refreshPosted = false;
    bool m_refreshing = false;
    // Every row this view made and has not freed; a row goes with its node.
    std::unordered_set<CTreeRow *> m_rows;
};

} // namespace sylvix
