#include "model/ParseAhead.h"

#include "htmlparse/HtmlParse.h"

namespace sylvix {

namespace {
ParseAhead *g_current = nullptr;
} // namespace

ParseAhead *CurrentParseAhead()
{
    return g_current;
}
void InstallParseAhead(ParseAhead *ahead)
{
    g_current = ahead;
}

ParseAhead::ParseAhead(unsigned jobs, size_t maxReady) : m_maxReady(maxReady)
{
    for (unsigned i = 0; i < jobs; ++i)
        m_threads.emplace_back([this] { work(); });
}

namespace {
// Pages whose markup check waits for a worker, at the most; their bytes
// are held meanwhile.
constexpr size_t kMaxPendingChecks = 256;

Diagnostics::List messagesOf(const std::string &bytes)
{
    PageEvents page = ParsePageBytes(bytes, true);
    if (page.diagnostics.empty())
        return nullptr;
    return std::make_shared<const DiagnosticList>(std::move(page.diagnostics));
}
} // namespace

ParseAhead::~ParseAhead()
{
    std::deque<std::packaged_task<Diagnostics::List()>> left;
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        left.swap(m_checks);
    }
    // Promised messages are made, whoever still holds them.
    for (auto &task : left)
        task();
    m_wake.notify_all();
    m_done.notify_all();
    for (auto &t : m_threads)
        t.join();
    if (g_current == this)
        g_current = nullptr;
}

void ParseAhead::request(const std::vector<std::string> &paths)
{
    {
        std::lock_guard lock(m_mutex);
        for (auto it = paths.rbegin(); it != paths.rend(); ++it) {
            if (m_entries.count(*it))
                continue;
            m_entries.emplace(*it, Entry());
            m_stack.push_back(*it);
            ++m_stats.requested;
        }
    }
    m_wake.notify_all();
}

Diagnostics ParseAhead::checkLater(std::string bytes)
{
    std::unique_lock lock(m_mutex);
    if (m_threads.empty() || m_checks.size() >= kMaxPendingChecks) {
        ++m_stats.checksAtOnce;
        lock.unlock();
        return Diagnostics(messagesOf(bytes));
    }
    std::packaged_task<Diagnostics::List()> task([b = std::move(bytes)] { return messagesOf(b); });
    Diagnostics later = Diagnostics::later(task.get_future().share());
    m_checks.push_back(std::move(task));
    ++m_stats.checksLater;
    lock.unlock();
    m_wake.notify_one();
    return later;
}

void ParseAhead::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] {
            return m_stop || !m_checks.empty() || (!m_stack.empty() && m_doneCount < m_maxReady);
        });
        if (m_stop)
            return;
        if (!m_checks.empty()) {
            auto task = std::move(m_checks.front());
            m_checks.pop_front();
            lock.unlock();
            task();
            lock.lock();
            continue;
        }
        std::string path = std::move(m_stack.back());
        m_stack.pop_back();
        auto it = m_entries.find(path);
        if (it == m_entries.end() || it->second.state != State::Queued)
            continue; // taken by the walk meanwhile
        it->second.state = State::Running;
        lock.unlock();

        Entry done;
        std::string bytes;
        done.readable = ReadRegularFile(path, bytes, html::ParseOptions().maxBytes + 1, &done.seen);
        if (done.readable)
            done.page = ParsePageBytes(bytes);
        done.state = State::Done;

        lock.lock();
        ++m_stats.parsed;
        it = m_entries.find(path);
        if (it == m_entries.end())
            continue;
        it->second = std::move(done);
        m_doneOrder.push_back(path);
        ++m_doneCount;
        // Pages nobody came for (the walk mirrored them instead) make room.
        while (m_doneCount > m_maxReady && !m_doneOrder.empty()) {
            auto old = m_entries.find(m_doneOrder.front());
            m_doneOrder.pop_front();
            if (old != m_entries.end() && old->second.state == State::Done) {
                m_entries.erase(old);
                --m_doneCount;
                ++m_stats.evicted;
            }
        }
        m_done.notify_all();
    }
}

std::optional<PageEvents> ParseAhead::take(const std::string &path, const FileStatus &st)
{
    std::unique_lock lock(m_mutex);
    auto it = m_entries.find(path);
    if (it == m_entries.end()) {
        ++m_stats.misses;
        return std::nullopt;
    }
    if (it->second.state == State::Queued) {
        m_entries.erase(it);
        ++m_stats.misses;
        return std::nullopt;
    }
    m_done.wait(lock, [&] {
        it = m_entries.find(path);
        return m_stop || it == m_entries.end() || it->second.state == State::Done;
    });
    if (it == m_entries.end() || it->second.state != State::Done) {
        ++m_stats.misses;
        return std::nullopt;
    }
    Entry entry = std::move(it->second);
    m_entries.erase(it);
    --m_doneCount;
    m_wake.notify_all();
    const FileStatus &s = entry.seen;
    if (!entry.readable || s.dev != st.dev || s.ino != st.ino || s.size != st.size
        || s.mtime != st.mtime || s.mtimeNsec != st.mtimeNsec) {
        ++m_stats.misses;
        return std::nullopt;
    }
    ++m_stats.hits;
    return std::move(entry.page);
}

ParseAhead::Stats ParseAhead::stats() const
{
    std::lock_guard lock(m_mutex);
    return m_stats;
}

} // namespace sylvix
