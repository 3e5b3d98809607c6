// Opening a row's document in the program the desktop associates with it,
// creating a missing one first; and previewing a row in the browser.

#include "app/CommandLine.h"
#include "app/MessageBox.h"
#include "app/Tools.h"
#include "dialogs/CNewDocumentDlg.h"
#include "dialogs/CPreferencesDlg.h"
#include "model/Config.h"
#include "model/SiteNode.h"
#include "model/Url.h"
#include "tree/ListtestView.h"
#include "tree/TreeListBox.h"
#include "tree/TreeRow.h"

#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <cstdio>
#include <fstream>
#include <memory>

namespace sylvix {

namespace {

constexpr int kQueryMs = 5000;

QString caption()
{
    return QStringLiteral("Open Document");
}

// The desktop entry of the type's default application ("edit"), or "".
std::string defaultDesktopEntry(const std::string &mimeType)
{
    const std::string xdgMime = FindInPath("xdg-mime");
    if (xdgMime.empty() || mimeType.empty())
        return {};
    QProcess query;
    query.start(
        QFile::decodeName(xdgMime.c_str()),
        {QStringLiteral("query"), QStringLiteral("default"), QString::fromStdString(mimeType)});
    if (!query.waitForFinished(kQueryMs) || query.exitCode() != 0) {
        query.kill();
        query.waitForFinished(kQueryMs);
        return {};
    }
    const QString id = QString::fromUtf8(query.readAllStandardOutput()).trimmed();
    if (id.isEmpty() || id.contains(QLatin1Char('/')))
        return {};
    const QString file = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, id);
    return file.isEmpty() ? std::string() : QFile::encodeName(file).toStdString();
}

// The command of a desktop entry's Exec key with the file in place of its
// field code (appended when it has none).
std::vector<std::string> desktopCommand(const std::string &entryPath, const std::string &file)
{
    std::ifstream in(entryPath);
    std::string line, exec;
    bool inEntry = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[')
            inEntry = line.rfind("[Desktop Entry]", 0) == 0;
        else if (inEntry && line.rfind("Exec=", 0) == 0)
            exec = line.substr(5);
    }
    std::vector<std::string> out;
    bool placed = false;
    for (const std::string &word : CommandWords(exec)) {
        if (word == "%f" || word == "%F" || word == "%u" || word == "%U") {
            if (!placed)
                out.push_back(file);
            placed = true;
            continue;
        }
        std::string kept;
        for (size_t i = 0; i < word.size(); ++i) {
            if (word[i] != '%' || i + 1 == word.size())
                kept += word[i];
            else if (word[++i] == '%')
                kept += '%';
            else if (word[i] == 'k')
                kept += entryPath;
            // other field codes stand for nothing here
        }
        if (!kept.empty())
            out.push_back(kept);
    }
    if (!out.empty() && !placed)
        out.push_back(file);
    return out;
}

// The association's "edit": the desktop's default application for the type.
bool editDocument(const std::string &path, const std::string &mimeType)
{
    const std::string entry = defaultDesktopEntry(mimeType);
    if (entry.empty())
        return false;
    ChildProcess editor;
    return StartCompanion(editor, desktopCommand(entry, path), std::string());
}

void startImageMapEditor(const SiteNode &node)
{
    std::vector<std::string> words = ProgramCommand("AreapadCommand", "admin/areapad.exe");
    if (remoteRegistryMachine) {
        words.push_back("-r");
        words.push_back(*remoteRegistryMachine);
    }
    words.push_back(node.file.str());
    ChildProcess editor;
    StartCompanion(editor, words, ServerRootFolder());
}

} // namespace

void CListtestView::OpenRow(CTreeRow *row)
{
    if (!row || !row->node)
        return;
    const SiteNode &node = *row->node;
    std::string path = node.localPath.str();
    const uint32_t flags = node.flags;
    if (flags & NOTVER) {
        MessageBox::error(this, QStringLiteral("This document is not accessible by Norvane Sylvix"),
                          caption());
        return;
    }
    if ((flags & BROKEN) && (flags & EXTERNAL)) {
        MessageBox::error(
            this, QStringLiteral("This external document cannot be created by Norvane Sylvix"),
            caption());
        return;
    }
    if (node.kind == ImageMap) {
        startImageMapEditor(node);
        return;
    }
    bool broken = flags & BROKEN;
    if (flags & EXTERNAL) {
        // What opens is the copy the check fetched.
        const auto answer
            = MessageBox::show(this, QMessageBox::NoIcon,
                               QStringLiteral("It is only possible to open a copy of an external "
                                              "document.\nDo you wish to continue?"),
                               caption(), QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    } else if (node.kind == HtmlDir) {
        std::unique_ptr<ConfigKey> dirIndex = ServerKey ? ServerKey->openKey("DirIndex") : nullptr;
        if (!dirIndex) {
            MessageBox::error(
                this, QStringLiteral("Server configuration must specify an index document to open"),
                caption());
            return;
        }
        std::string index;
        if (ReadString(*dirIndex, "IndexDoc", index)) {
            path += "/" + index;
            broken = true;
        }
    }
    if (broken) {
        if (!MakeDocumentFolder(path, this))
            return;
        CNewDocumentDlg dialog(nullptr);
        dialog.SetDocumentType(node.mimeType.str());
        if (dialog.exec() == QDialog::Accepted) {
            if (dialog.choice() == 1) {
                LaunchWizard(dialog.commandLine(), path);
                return;
            }
        } else if (!dialog.noWizards()) {
            return;
        }
        // Never over a document that is there after all.
        if (!path.empty())
            if (std::FILE *f = std::fopen(path.c_str(), "wbx"))
                std::fclose(f);
    }
    if (!editDocument(path, node.mimeType.str()))
        openDocument(path);
}

void CListtestView::openDocument(const std::string &path)
{
    auto tellUser = [this, path] {
        MessageBox::error(this, QStringLiteral("Sylvix cannot invoke an association for this file"),
                          QFile::decodeName(path.c_str()));
    };
    const std::string xdgOpen = FindInPath("xdg-open");
    auto opener = std::make_shared<ChildProcess>();
    if (xdgOpen.empty() || !opener->Start(xdgOpen, {"xdg-open", path}, std::string())) {
        tellUser();
        return;
    }
    // xdg-open may run the program it finds in the foreground: its verdict is
    // awaited without holding up the window, and only a failure is told.
    auto *watch = new QSocketNotifier(opener->handle(), QSocketNotifier::Read, this);
    connect(watch, &QSocketNotifier::activated, this, [watch, opener, tellUser] {
        watch->setEnabled(false);
        watch->deleteLater();
        const std::optional<int> code = opener->WaitForExit(0);
        if (code && *code != 0)
            tellUser();
    });
}

void CListtestView::OnBrowserPreview()
{
    const CTreeRow *row = m_treeList ? m_treeList->SelectedRow() : nullptr;
    if (!row || !row->node)
        return;
    const std::string url = LocalUrl(row->node);
    ChildProcess &browser = BrowserProcess();
    browser.Terminate();
    std::vector<std::string> words = ProgramCommand("BrowserCommand", kDefaultBrowserCommand);
    words.push_back(url);
    StartCompanion(browser, words, ServerRootFolder());
}

} // namespace sylvix
