#pragma once

// Long operations run on the user-interface thread; between steps they let
// the event loop run and look at one process-wide cancel request.

#include <functional>

namespace sylvix {

// Installed by the program with windows; processes pending window events.
void InstallEventPump(std::function<void()> pump);

// Processes pending events; returns 1 when a cancel request was pending
// (and clears it), else 0.
int PumpMessages();
void RequestCancel(int value);
bool CancelRequested(); // without clearing

} // namespace sylvix
