#pragma once

// Watches directory trees for changes: a worker thread follows the trees as
// directories appear and go, gathers the changes of a short while, and
// reports which directories changed.

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace sylvix {

class DirWatcher
{
public:
    struct Changes
    {
        std::vector<std::string> dirs; // sorted, each once; a watched root on overflow
        std::string error;             // set when part of a tree could not be watched
    };
    // Runs on the watcher's thread.
    using Callback = std::function<void(const Changes &)>;

    struct Options
    {
        // Changes that follow each other within this pause are reported together.
        std::chrono::milliseconds quiet{100};
        // Never hold a report back longer than this.
        std::chrono::milliseconds longest{1000};
        // Our own cap on watches (0: only the system's).
        size_t maxWatches = 0;
    };

    DirWatcher();
    ~DirWatcher(); // stops
    DirWatcher(const DirWatcher &) = delete;
    DirWatcher &operator=(const DirWatcher &) = delete;

    // Watches every root with all its subdirectories and starts the thread.
    // False, with error() set and nothing running, when a root cannot be
    // watched or the watch limit is reached.
    bool start(const std::vector<std::string> &roots, Callback callback, const Options &options);
    bool start(const std::vector<std::string> &roots, Callback callback)
    {
        return start(roots, std::move(callback), Options());
    }
    // Wakes the thread at once and waits for it; every descriptor is closed
    // on return. Not to be called from the callback.
    void stop();

    const std::string &error() const { return m_error; } // of the last start()
    // The directories watched now, sorted (for tests and the status line).
    std::vector<std::string> watched() const;

private:
    bool addTree(const std::string &dir, std::string &error);
    void dropTree(const std::string &dir);
    void run();
    void closeAll();

    int m_inotify = -1;
    int m_wake = -1; // eventfd written by stop()
    Options m_options;
    Callback m_callback;
    std::vector<std::string> m_roots;
    std::string m_error;
    mutable std::mutex m_mutex; // guards m_paths
    std::unordered_map<int, std::string> m_paths;
    std::thread m_thread;
};

} // namespace sylvix
