#include "model/Events.h"

#include <atomic>

namespace sylvix {

namespace {
std::function<void()> &pump()
{
    static std::function<void()> p;
    return p;
}
// Set from the user-interface thread, or from a signal handler in the
// command-line tools, hence atomic.
std::atomic<int> g_cancel{0};
} // namespace

void InstallEventPump(std::function<void()> p)
{
    pump() = std::move(p);
}

int PumpMessages()
{
    if (pump())
        pump()();
    if (g_cancel.exchange(0) != 0)
        return 1;
    return 0;
}

void RequestCancel(int value)
{
    g_cancel.store(value);
}

bool CancelRequested()
{
    return g_cancel.load() != 0;
}

} // namespace sylvix
