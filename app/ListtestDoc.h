#pragma once

// The document of one tree window and of every further window on it: it
// owns the tree's root (unless that is the first tree's, which the main
// frame owns).

#include "app/DocView.h"

#include <QObject>
#include <QString>

#include <memory>
#include <string>
#include <vector>

namespace sylvix {

class DirWatcher;
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

    // Watches every directory that serves the server's documents, with
    // their subdirectories; a change arrives through OnDirectoryChanged on
    // this object's thread.
    void StartDirectoryWatch();
    // Marks every view out of date; each view then refreshes once.
    void OnDirectoryChanged();
    // The directories being watched now.
    std::vector<std::string> watchedDirectories() const;
    // Ends the watchers at once (also done by the destructor).
    void StopDirectoryWatch();

signals:
    void outOfDate();

private:
    bool firstDocument();
    bool laterDocument();
    bool commonSteps();

    SiteNode *m_root = nullptr;
    QString m_title;
    std::vector<DocView *> m_views;
    std::vector<std::unique_ptr<DirWatcher>> m_watchers;
};

} // namespace sylvix
