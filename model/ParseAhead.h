#pragma once

// Reading and parsing documents on worker threads ahead of a walk that
// will need them. The walk itself stays on its one thread and in its one
// order; it only finds the work already done.

#include "model/Page.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace sylvix {

class ParseAhead
{
public:
    // DeepFirst: a later request is needed before earlier ones (a depth-first
    // walk); LevelByLevel: requests are needed in the order they came.
    enum class Order { DeepFirst, LevelByLevel };
    explicit ParseAhead(unsigned jobs, size_t maxReady = 4096, Order order = Order::DeepFirst);
    ~ParseAhead();
    ParseAhead(const ParseAhead &) = delete;
    ParseAhead &operator=(const ParseAhead &) = delete;

    // The walk will need these documents soon, the first of the list first.
    // Across requests, Order says which comes first.
    void request(const std::vector<std::string> &paths);

    // The page parsed from path when a worker has read (or is reading) it
    // and the file it read has the status st (same file, size and time);
    // nullopt otherwise, and the caller parses it itself.
    std::optional<PageEvents> take(const std::string &path, const FileStatus &st);

    // The messages of parsing bytes, made on a worker; they are made here at
    // once when the workers are too far behind.
    Diagnostics checkLater(std::string bytes);

    // What the caller does with a page that take() did not give: read its
    // links at once and leave the markup check to a worker (false, so that a
    // window stays quick), or parse it whole itself (true). Handing the check
    // over parses the page twice; a walk with nothing else to do does better
    // to parse it once while the workers go on with the next pages.
    void setParseMissesWhole(bool on) { m_parseMissesWhole = on; }
    bool parseMissesWhole() const { return m_parseMissesWhole; }

    struct Stats
    {
        uint64_t requested = 0, parsed = 0, hits = 0, misses = 0, evicted = 0;
        uint64_t checksLater = 0, checksAtOnce = 0;
    };
    Stats stats() const;

private:
    enum class State { Queued, Running, Done };
    struct Entry
    {
        State state = State::Queued;
        PageEvents page;
        FileStatus seen;
        bool readable = false;
    };
    void work();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<std::string> m_queue;                              // next to parse at the front
    std::deque<std::packaged_task<Diagnostics::List()>> m_checks; // first come, first done
    std::unordered_map<std::string, Entry> m_entries;
    std::deque<std::string> m_doneOrder;
    size_t m_doneCount = 0;
    size_t m_pendingBytes = 0; // held by checks not yet done
    size_t m_maxReady;
    Order m_order;
    bool m_parseMissesWhole = false;
    bool m_stop = false;
    Stats m_stats;
    std::vector<std::thread> m_threads;
};

// The parse-ahead in use by ParseDocument, or null.
ParseAhead *CurrentParseAhead();
void InstallParseAhead(ParseAhead *ahead);

} // namespace sylvix
