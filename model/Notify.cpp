#include "model/Notify.h"

namespace sylvix {

std::optional<std::thread::id> mainThread;

namespace {
NotifyHooks &hooks()
{
    static NotifyHooks h;
    return h;
}
} // namespace

void InstallNotifyHooks(NotifyHooks h)
{
    hooks() = std::move(h);
}

void ShowStatusText(const std::string &text)
{
    if (!mainThread || *mainThread != std::this_thread::get_id())
        return;
    if (hooks().status)
        hooks().status(text);
}

bool AskYesNo(const std::string &text, const std::string &caption)
{
    return hooks().askYesNo ? hooks().askYesNo(text, caption) : false;
}

void ShowErrorBox(const std::string &text, const std::string &caption)
{
    if (hooks().errorBox)
        hooks().errorBox(text, caption);
}

} // namespace sylvix
