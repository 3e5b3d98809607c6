#include "platform/DirWatcher.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <set>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sylvix {

namespace {

constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB
                           | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF
                           | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

bool under(const std::string &path, const std::string &dir)
{
    return path == dir
           || (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0
               && path[dir.size()] == '/');
}

std::string limitMessage(size_t count)
{
    return "the limit of directory watches was reached after " + std::to_string(count)
           + " directories (raise fs.inotify.max_user_watches); changes below the rest are "
             "not seen";
}

} // namespace

DirWatcher::DirWatcher() = default;

DirWatcher::~DirWatcher()
{
    stop();
}

bool DirWatcher::addTree(const std::string &top, std::string &error)
{
    std::vector<std::string> pending{top};
    while (!pending.empty()) {
        std::string dir = std::move(pending.back());
        pending.pop_back();
        {
            std::lock_guard lock(m_mutex);
            if (m_options.maxWatches && m_paths.size() >= m_options.maxWatches) {
                error = limitMessage(m_paths.size());
                return false;
            }
        }
        int wd = ::inotify_add_watch(m_inotify, dir.c_str(), kMask);
        if (wd < 0) {
            if (errno == ENOSPC) {
                std::lock_guard lock(m_mutex);
                error = limitMessage(m_paths.size());
                return false;
            }
            if (dir == top && error.empty())
                error = "cannot watch " + dir + ": " + std::strerror(errno);
            continue; // a subdirectory that went meanwhile
        }
        {
            std::lock_guard lock(m_mutex);
            m_paths[wd] = dir;
        }
        if (DIR *d = ::opendir(dir.c_str())) {
            while (dirent *e = ::readdir(d)) {
                if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN)
                    continue;
                if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
                    continue;
                std::string sub = dir + "/" + e->d_name;
                if (e->d_type == DT_UNKNOWN) {
                    struct stat st;
                    if (::lstat(sub.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                        continue;
                }
                pending.push_back(std::move(sub));
            }
            ::closedir(d);
        }
    }
    return error.empty();
}

void DirWatcher::dropTree(const std::string &dir)
{
    std::lock_guard lock(m_mutex);
    for (auto it = m_paths.begin(); it != m_paths.end();) {
        if (under(it->second, dir)) {
            ::inotify_rm_watch(m_inotify, it->first);
            it = m_paths.erase(it);
        } else {
            ++it;
        }
    }
}

bool DirWatcher::start(const std::vector<std::string> &roots, Callback callback,
                       const Options &options)
{
    stop();
    m_error.clear();
    m_options = options;
    m_callback = std::move(callback);
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    m_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_inotify < 0 || m_wake < 0) {
        m_error = std::string("cannot watch directories: ") + std::strerror(errno);
        closeAll();
        return false;
    }
    m_roots.clear();
    for (const std::string &r : roots) {
        std::string root = r;
        while (root.size() > 1 && root.back() == '/')
            root.pop_back();
        m_roots.push_back(root);
        if (!addTree(root, m_error)) {
            closeAll();
            return false;
        }
    }
    m_thread = std::thread([this] { run(); });
    return true;
}

void DirWatcher::stop()
{
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wake, &one, sizeof one);
        m_thread.join();
    }
    closeAll();
}

void DirWatcher::closeAll()
{
    if (m_inotify >= 0)
        ::close(m_inotify); // drops every watch with it
    if (m_wake >= 0)
        ::close(m_wake);
    m_inotify = m_wake = -1;
    std::lock_guard lock(m_mutex);
    m_paths.clear();
}

std::vector<std::string> DirWatcher::watched() const
{
    std::vector<std::string> out;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &[wd, path] : m_paths)
            out.push_back(path);
    }
    std::sort(out.begin(), out.end());
    return out;
}

void DirWatcher::run()
{
    using Clock = std::chrono::steady_clock;
    std::set<std::string> changed;
    std::string error;
    Clock::time_point first{}, last{};
    alignas(inotify_event) char buf[64 * 1024];
    for (;;) {
        // Without changes held back, wait for ever; with some, until the
        // pause is long enough or they have waited too long.
        int timeout = -1;
        if (!changed.empty() || !error.empty()) {
            Clock::time_point due = std::min(last + m_options.quiet, first + m_options.longest);
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
            timeout = static_cast<int>(std::max<int64_t>(0, left.count()));
        }
        pollfd fds[2] = {{m_wake, POLLIN, 0}, {m_inotify, POLLIN, 0}};
        int ready = ::poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR)
            return;
        if (fds[0].revents)
            return;
        if (ready == 0) {
            Changes c{std::vector<std::string>(changed.begin(), changed.end()), error};
            changed.clear();
            error.clear();
            if (m_callback)
                m_callback(c);
            continue;
        }
        if (!(fds[1].revents & POLLIN))
            continue;
        ssize_t len = ::read(m_inotify, buf, sizeof buf);
        if (len <= 0)
            continue;
        if (changed.empty() && error.empty())
            first = Clock::now();
        last = Clock::now();
        for (char *p = buf; p < buf + len;) {
            auto *e = reinterpret_cast<inotify_event *>(p);
            p += sizeof(inotify_event) + e->len;
            if (e->mask & IN_Q_OVERFLOW) {
                changed.insert(m_roots.begin(), m_roots.end());
                continue;
            }
            std::string dir;
            {
                std::lock_guard lock(m_mutex);
                auto it = m_paths.find(e->wd);
                if (it == m_paths.end())
                    continue;
                dir = it->second;
                if (e->mask & IN_IGNORED) {
                    m_paths.erase(it);
                    continue;
                }
            }
            if (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF))
                continue; // its parent reports the change
            changed.insert(dir);
            if (!(e->mask & IN_ISDIR) || e->len == 0)
                continue;
            std::string sub = dir + "/" + e->name;
            if (e->mask & (IN_MOVED_FROM | IN_DELETE))
                dropTree(sub);
            if (e->mask & (IN_CREATE | IN_MOVED_TO)) {
                changed.insert(sub); // files made before its watch was in place
                addTree(sub, error);
            }
        }
    }
}

} // namespace sylvix
