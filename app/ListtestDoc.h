#pragma once

// The document of one tree window and of every further window on it: it
// owns the tree's root (unless that is the first tree's, which the main
// frame owns).

#include "app/DocView.h"

#include <QObject>
#include <QString>

#include <vector>

namespace sylvix {

class SiteNode;

class CListtestDoc : public QObject
{
    Q_OBJECT

public:
    explicit CListtestDoc(QObject *parent = nullptr);
    ~CListtestDoc() override;

    // Builds the root; false when no window may open. The first document of
    // the process also reads the command line and opens the configuration,
    // and ends the process on a fatal error.
    bool OnNewDocument();
    // False while an expansion runs.
    bool CanCloseFrame() const;
    SiteNode *GetRoot() const { return m_root; }
    QString title() const { return m_title; }

    void addView(DocView *view);
    void removeView(DocView *view);
    const std::vector<DocView *> &views() const { return m_views; }

    // Marks every view out of date; the views refresh when next painted.
    void OnDirectoryChanged();

signals:
    void outOfDate();

private:
    bool firstDocument();
    bool laterDocument();
    bool commonSteps();

    SiteNode *m_root = nullptr;
    QString m_title;
    std::vector<DocView *> m_views;
};

} // namespace sylvix
