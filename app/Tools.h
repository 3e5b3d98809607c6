#pragma once

// The server's companion programs (administration, Lexmill, image-map
// editor, Numbrel), the browser and the page wizards, started as processes
// of their own; and the folder helpers that creating a document shares with
// them. Usable with or without a tree window.

#include "platform/Process.h"

#include <string>
#include <vector>

class QWidget;

namespace sylvix {

class SiteNode;

// Cuts one trailing "/" or "\" from text, in place; returns text.
std::string &CutTrailingSeparator(std::string &text);

// 0 when path is a writable folder or was made, its missing parents first,
// one level at a time; else the errno of the level that failed.
int MakeDirectories(const std::string &path);

// Makes the missing folders of a new document's path; on failure tells the
// user ("Problem creating directory") and returns false.
bool MakeDocumentFolder(const std::string &documentPath, QWidget *parent);

// A registered command line cut into words (quotes group, as a shell would
// read them, but nothing else is interpreted).
std::vector<std::string> CommandWords(const std::string &commandLine);
// The words with the document path in place of the first "%s" ("%%" is a
// "%"). The path goes in after the split, so its blanks keep it one word.
std::vector<std::string> FormatCommand(const std::vector<std::string> &words,
                                       const std::string &path);

// The server's root without its trailing separator; "" when it is not
// configured.
std::string ServerRootFolder();

// The words of a program's value in the program's key, or the fallback.
std::vector<std::string> ProgramCommand(const char *valueName, const char *fallback);

// Starts words[0] with the words as its arguments in folder. A program
// without "/" is looked for in the folder, then along $PATH.
bool StartCompanion(ChildProcess &process, const std::vector<std::string> &words,
                    const std::string &folder);

// ID_TOOL_ADMIN, ID_TOOL_LEXMILL, ID_TOOL_AREAPAD, ID_TOOL_NUMBREL.
bool IsToolCommand(int id);
// Ends the tool's previous instance, then starts it in the server's "admin"
// folder, with "-r MACHINE" when the program runs on another machine's
// configuration.
void StartTool(int id);

// Starts the wizard of format (its "%s" takes path) in the server's
// "wizards" folder; a relative program is taken from that folder.
void LaunchWizard(const std::string &format, const std::string &path);

// The Wizards command on node: choose a wizard, make the document's
// folders, start it.
void RunWizardsCommand(const SiteNode &node, QWidget *parent);

// The process records that outlive a start: one per tool, the browser last
// started by Browser Preview, the wizard started last.
ChildProcess &ToolProcess(int id);
ChildProcess &BrowserProcess();
ChildProcess &WizardProcess();

} // namespace sylvix
