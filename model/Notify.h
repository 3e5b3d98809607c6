#pragma once

// How the site model talks to the user: a status line and two message boxes.
// The program with windows installs hooks; the command-line tools their own.

#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace sylvix {

struct NotifyHooks
{
    std::function<void(const std::string &)> status;
    std::function<bool(const std::string &text, const std::string &caption)> askYesNo;
    std::function<void(const std::string &text, const std::string &caption)> errorBox;
};

void InstallNotifyHooks(NotifyHooks hooks);

// The user-interface thread, recorded at the end of start-up.
extern std::optional<std::thread::id> mainThread;

void ShowStatusText(const std::string &text);                       // dropped off mainThread
bool AskYesNo(const std::string &text, const std::string &caption); // false without a hook
void ShowErrorBox(const std::string &text, const std::string &caption);

} // namespace sylvix
