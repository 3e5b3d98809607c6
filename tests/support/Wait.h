#pragma once

#include <chrono>
#include <thread>

namespace sylvix::test {

// Polls until cond holds or the time is up, which is generous because the
// machine may be loaded; then cond's last answer.
template<typename Cond>
bool eventually(Cond cond, int seconds = 10)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!cond() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return cond();
}

} // namespace sylvix::test
