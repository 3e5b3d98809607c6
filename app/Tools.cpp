#include "app/Tools.h"

#include "app/CommandLine.h"
#include "app/MessageBox.h"
#include "dialogs/CSelectWizardDlg.h"
#include "model/Config.h"
#include "model/SiteNode.h"
#include "resources/CommandTable.h"

#include <QProcess>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace sylvix {

namespace {

struct ToolEntry
{
    int id;
    const char *valueName;
    const char *defaultProgram; // in the server's "admin" folder
};

constexpr ToolEntry kTools[] = {
    {ID_TOOL_ADMIN, "AdminCommand", "hostctl.exe"},
    {ID_TOOL_LEXMILL, "IndexCommand", "lexmill.exe"},
    {ID_TOOL_AREAPAD, "AreapadCommand", "areapad.exe"},
    {ID_TOOL_NUMBREL, "StatsCommand", "numbrel.exe"},
};

const ToolEntry *toolEntry(int id)
{
    for (const ToolEntry &t : kTools)
        if (t.id == id)
            return &t;
    return nullptr;
}

bool isAbsolute(const std::string &program)
{
    return !program.empty()
           && (program[0] == '/' || program[0] == '\\'
               || (program.size() > 1 && program[1] == ':'));
}

bool isWritableFolder(const std::string &path)
{
    return ::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) == 0;
}

} // namespace

std::string &CutTrailingSeparator(std::string &text)
{
    if (!text.empty() && (text.back() == '/' || text.back() == '\\'))
        text.pop_back();
    return text;
}

int MakeDirectories(const std::string &path)
{
    if (path.empty())
        return ENOENT;
    if (isWritableFolder(path))
        return 0;
    const size_t cut = path.rfind('/');
    if (cut != std::string::npos && cut > 0) {
        if (const int r = MakeDirectories(path.substr(0, cut)))
            return r;
    }
    return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
}

bool MakeDocumentFolder(const std::string &documentPath, QWidget *parent)
{
    const size_t cut = documentPath.rfind('/');
    if (cut == std::string::npos || cut == 0)
        return true;
    if (MakeDirectories(documentPath.substr(0, cut)) == 0)
        return true;
    MessageBox::error(parent, QStringLiteral("Problem creating directory"),
                      QStringLiteral("Open Error"));
    return false;
}

std::vector<std::string> CommandWords(const std::string &commandLine)
{
    std::vector<std::string> words;
    for (const QString &w : QProcess::splitCommand(QString::fromUtf8(commandLine)))
        words.push_back(w.toUtf8().toStdString());
    return words;
}

std::vector<std::string> FormatCommand(const std::vector<std::string> &words,
                                       const std::string &path)
{
    std::vector<std::string> out;
    bool placed = false;
    for (const std::string &word : words) {
        std::string formatted;
        for (size_t i = 0; i < word.size(); ++i) {
            if (word[i] == '%' && i + 1 < word.size()
                && (word[i + 1] == 's' || word[i + 1] == '%')) {
                if (word[i + 1] == '%') {
                    formatted += '%';
                } else if (!placed) {
                    formatted += path;
                    placed = true;
                }
                ++i;
            } else {
                formatted += word[i];
            }
        }
        // A word that was only a place for the path goes when nothing filled it.
        if (!formatted.empty())
            out.push_back(std::move(formatted));
    }
    return out;
}

std::string ServerRootFolder()
{
    std::string root;
    if (!ServerKey || !ReadString(*ServerKey, "ServerRoot", root))
        return {};
    return CutTrailingSeparator(root);
}

std::vector<std::string> ProgramCommand(const char *valueName, const char *fallback)
{
    std::string value;
    if (!ProgramKey || !ReadString(*ProgramKey, valueName, value))
        value = fallback;
    std::vector<std::string> words = CommandWords(value);
    if (words.empty())
        words.push_back(fallback);
    return words;
}

bool StartCompanion(ChildProcess &process, const std::vector<std::string> &words,
                    const std::string &folder)
{
    if (words.empty())
        return false;
    std::string program = words[0];
    if (program.find('/') == std::string::npos) {
        const std::string here = (folder.empty() ? std::string(".") : folder) + "/" + program;
        if (::access(here.c_str(), X_OK) != 0)
            if (std::string found = FindInPath(program); !found.empty())
                program = std::move(found);
    }
    return process.Start(program, words, folder);
}

bool IsToolCommand(int id)
{
    return toolEntry(id) != nullptr;
}

ChildProcess &ToolProcess(int id)
{
    static ChildProcess records[std::size(kTools)];
    const ToolEntry *t = toolEntry(id);
    return records[t ? size_t(t - kTools) : 0];
}

ChildProcess &BrowserProcess()
{
    static ChildProcess record;
    return record;
}

ChildProcess &WizardProcess()
{
    static ChildProcess record;
    return record;
}

void StartTool(int id)
{
    const ToolEntry *tool = toolEntry(id);
    if (!tool)
        return;
    ChildProcess &record = ToolProcess(id);
    record.Terminate();
    std::string folder = ServerRootFolder();
    if (!folder.empty())
        folder += "/admin";
    std::vector<std::string> words = ProgramCommand(tool->valueName, tool->defaultProgram);
    if (remoteRegistryMachine) {
        words.push_back("-r");
        words.push_back(*remoteRegistryMachine);
    }
    StartCompanion(record, words, folder);
}

void LaunchWizard(const std::string &format, const std::string &path)
{
    ChildProcess &record = WizardProcess();
    record.Release(); // the wizard started before runs on
    std::vector<std::string> words = FormatCommand(CommandWords(format), path);
    if (words.empty())
        return;
    if (remoteRegistryMachine) {
        words.insert(words.begin() + 1, {"-r", *remoteRegistryMachine});
    }
    std::string folder = ServerRootFolder();
    folder = folder.empty() ? std::string("/") : folder + "/wizards";
    std::string program = words[0];
    if (!isAbsolute(program))
        program = (folder == "/" ? folder : folder + "/") + program;
    record.Start(program, words, folder);
}

void RunWizardsCommand(const SiteNode &node, QWidget *parent)
{
    CSelectWizardDlg dialog(nullptr);
    const std::string type = node.mimeType.str();
    dialog.SetDocumentType(type);
    if (dialog.exec() != QDialog::Accepted) {
        if (dialog.noWizards())
            MessageBox::information(
                parent,
                QStringLiteral("There are no wizards associated with the document type %1")
                    .arg(QString::fromStdString(type)),
                QStringLiteral("Wizards"));
        return;
    }
    const std::string path = node.localPath.str();
    if (!path.empty() && (node.flags & BROKEN) && !MakeDocumentFolder(path, parent))
        return;
    LaunchWizard(dialog.commandLine(), path);
}

} // namespace sylvix
