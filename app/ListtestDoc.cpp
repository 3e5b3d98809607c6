#include "app/ListtestDoc.h"

#include "app/AppState.h"
#include "app/CommandLine.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "model/Config.h"
#include "model/Expand.h"
#include "model/SiteNode.h"
#include "model/Url.h"
#include "model/WatchDirs.h"
#include "platform/DirWatcher.h"

#include <QGuiApplication>

#include <algorithm>

namespace sylvix {

namespace {

QWidget *owner()
{
    return CMainFrame::instance();
}

// Expands node under the wait cursor; false when the user stopped it.
bool expandRoot(SiteNode *node)
{
    if (NeedsReload(node) != ReloadResult::Expand)
        return true;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const ExpandResult done = ExpandNode(node);
    QGuiApplication::restoreOverrideCursor();
    return done != ExpandResult::Stopped;
}

} // namespace

CListtestDoc::CListtestDoc(QObject *parent) : QObject(parent) {}

CListtestDoc::~CListtestDoc()
{
    // Before the root goes: no watcher thread may call in from here on.
    StopDirectoryWatch();
    if (m_root && m_root != firstTreeRoot)
        FreeNode(m_root);
}

bool CListtestDoc::OnNewDocument()
{
    const bool made = firstTreeRoot ? laterDocument() : firstDocument();
    return made && commonSteps();
}

bool CListtestDoc::firstDocument()
{
    SplitCommandLine(processCommandLine);
    ParseResult parsed = ParseCommandLine(commandWords);
    if (!parsed.error.empty())
        FatalError(QString::fromStdString(parsed.error));

    switch (OpenConfiguration(remoteRegistryMachine ? remoteRegistryMachine->c_str() : nullptr)) {
    case OpenConfigResult::NoRemote:
        FatalError(QStringLiteral("Error connecting to remote server registry"));
    case OpenConfigResult::NoProgramKey:
        FatalError(QStringLiteral("The Norvane server must be installed to create a Web window"));
    default: break;
    }

    // Opening a row parses its children for their links only; a node's
    // markup is checked when its messages are first looked at.
    SetMarkupChecks(MarkupChecks::OnFirstRead);
    m_root = CreateRootNode(rootUrlArgument ? rootUrlArgument->c_str() : nullptr);
    firstTreeRoot = m_root;
    if (m_root->flags & BROKEN) {
        // Without an argument there is nothing the user typed: show the
        // server's home page that was tried.
        const QString shown
            = QString::fromStdString(rootUrlArgument ? *rootUrlArgument : m_root->url.str());
        FreeNode(m_root);
        m_root = firstTreeRoot = nullptr;
        FatalError(CantInterpretUrl(shown));
    }
    if (!expandRoot(m_root))
        return false;
    treeUrl = m_root->href.str().substr(0, kTreeUrlChars);
    return true;
}

bool CListtestDoc::laterDocument()
{
    if (treeUrl.empty()) {
        m_root = firstTreeRoot;
        return true;
    }
    m_root = CreateNode();
    SetUrl(m_root, treeUrl, nullptr);
    if (m_root->flags & BROKEN) {
        FreeNode(m_root);
        m_root = nullptr;
        MessageBox::error(owner(), CantInterpretUrl(QString::fromStdString(treeUrl)),
                          QStringLiteral("New Tree"));
        return false;
    }
    return expandRoot(m_root);
}

bool CListtestDoc::commonSteps()
{
    if (!m_root)
        return false;
    m_title = QString::fromStdString(m_root->href.str());
    // A tree rooted on another server has no directory of ours to follow.
    if (!(m_root->flags & EXTERNAL))
        StartDirectoryWatch();
    return true;
}

bool CListtestDoc::CanCloseFrame() const
{
    return busy == 0;
}

void CListtestDoc::addView(DocView *view)
{
    m_views.push_back(view);
}

void CListtestDoc::removeView(DocView *view)
{
    m_views.erase(std::remove(m_views.begin(), m_views.end(), view), m_views.end());
    // The document lives while one of its windows is open.
    if (m_views.empty())
        deleteLater();
}

void CListtestDoc::StartDirectoryWatch()
{
    for (const std::string &dir : DirectoriesToWatch()) {
        auto watcher = std::make_unique<DirWatcher>();
        // The watcher's thread only posts; the views refresh on ours. A
        // post still queued when this document goes is dropped with it.
        auto post = [this](const DirWatcher::Changes &) {
            QMetaObject::invokeMethod(
                this, [this] { OnDirectoryChanged(); }, Qt::QueuedConnection);
        };
        // A directory that cannot be watched (it may not exist) is left out.
        if (watcher->start({dir}, post))
            m_watchers.push_back(std::move(watcher));
    }
}

void CListtestDoc::StopDirectoryWatch()
{
    for (auto it = m_watchers.rbegin(); it != m_watchers.rend(); ++it)
        (*it)->stop();
    m_watchers.clear();
}

std::vector<std::string> CListtestDoc::watchedDirectories() const
{
    std::vector<std::string> out;
    for (const auto &watcher : m_watchers)
        for (std::string &dir : watcher->watched())
            out.push_back(std::move(dir));
    return out;
}

void CListtestDoc::OnDirectoryChanged()
{
    emit outOfDate();
}

} // namespace sylvix
