#include "model/Http.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace sylvix {

namespace {

// Tries per call before giving up on a directory full of our names.
constexpr int kMaxTries = 100000;

// What a signal handler may read: a list that only grows, each entry
// written before it is published and switched off (never freed) when its
// file is deleted. The handler needs no lock and no allocation.
struct SignalEntry
{
    std::atomic<bool> alive{true};
    SignalEntry *next = nullptr;
    char *path = nullptr;
};
std::atomic<SignalEntry *> g_signalList{nullptr};

SignalEntry *publishForSignals(const std::string &path)
{
    auto *entry = new SignalEntry;
    entry->path = new char[path.size() + 1];
    std::memcpy(entry->path, path.c_str(), path.size() + 1);
    entry->next = g_signalList.load();
    while (!g_signalList.compare_exchange_weak(entry->next, entry)) {
    }
    return entry;
}

void deleteOnSignal(int sig)
{
    for (SignalEntry *e = g_signalList.load(); e; e = e->next) {
        if (e->alive.exchange(false))
            ::unlink(e->path);
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// A run ended by a signal (killed, its terminal gone, its reader gone as in
// "| head -1") deletes its files as a normal exit does. A signal the
// program handles or ignores itself is left alone.
void installSignalCleanup()
{
    for (int sig : {SIGTERM, SIGHUP, SIGPIPE, SIGINT}) {
        struct sigaction old;
        if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL
            || (old.sa_flags & SA_SIGINFO))
            continue;
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = deleteOnSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(sig, &action, nullptr);
    }
}

struct TempFile
{
    SignalEntry *entry = nullptr;
    int64_t bytes = 0; // counted against the budget
};

struct TempFiles
{
    std::mutex mutex;
    int counter = 0; // the next number to try, for the whole process
    std::map<std::string, TempFile> files;
    int64_t keptBytes = 0;
    int64_t budget = kDefaultTempBudget;
};

void deleteAllAtExit()
{
    DeleteAllTempFiles();
}

// Never destroyed, so that it is still there when the exit handler runs.
TempFiles &tempFiles()
{
    static TempFiles *files = [] {
        auto *f = new TempFiles;
        std::atexit(deleteAllAtExit);
        installSignalCleanup();
        return f;
    }();
    return *files;
}

std::string tempDirectory()
{
    const char *env = std::getenv("TMPDIR");
    std::string dir = env && *env ? env : "/tmp";
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

void forget(TempFiles &files, std::map<std::string, TempFile>::iterator it)
{
    if (it->second.entry->alive.exchange(false))
        ::unlink(it->first.c_str());
    files.keptBytes -= it->second.bytes;
    files.files.erase(it);
}

} // namespace

int OpenTempFile(std::string_view extension, std::string &path)
{
    path.clear();
    if (extension.find('/') != std::string_view::npos
        || extension.find('\0') != std::string_view::npos || extension.size() > 64)
        extension = {};
    const std::string dir = tempDirectory();
    TempFiles &files = tempFiles();
    std::lock_guard<std::mutex> lock(files.mutex);
    for (int tries = 0; tries < kMaxTries; ++tries) {
        std::string name = dir + "/sy" + std::to_string(files.counter) + std::string(extension);
        if (files.counter < INT32_MAX)
            ++files.counter;
        else
            files.counter = 0;
        // Exclusive creation: a name somebody holds is skipped, and nobody
        // can slip a file or link in under ours.
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            files.files[name].entry = publishForSignals(name);
            path = name;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

std::string MakeTempName(std::string_view extension)
{
    std::string path;
    int fd = OpenTempFile(extension, path);
    if (fd < 0)
        return {};
    ::close(fd);
    return path;
}

bool ReserveTempBytes(const std::string &path, int64_t bytes)
{
    TempFiles &files = tempFiles();
    std::lock_guard<std::mutex> lock(files.mutex);
    auto it = files.files.find(path);
    if (it == files.files.end() || bytes < 0 || files.keptBytes > files.budget - bytes)
        return false;
    it->second.bytes += bytes;
    files.keptBytes += bytes;
    return true;
}

void SetTempBudget(int64_t bytes)
{
    TempFiles &files = tempFiles();
    std::lock_guard<std::mutex> lock(files.mutex);
    files.budget = bytes < 0 ? kDefaultTempBudget : bytes;
}

int64_t TempBudget()
{
    TempFiles &files = tempFiles();
    std::lock_guard<std::mutex> lock(files.mutex);
    return files.budget;
}

int64_t TempBytesKept()
{
    TempFiles &files = tempFiles();
    std::lock_guard<std::mutex> lock(files.mutex);
    return files.keptBytes;
}

void DeleteTempFile(const std::string &path)
{
    TempFiles &files = tempFiles();
    std::lock_guard<std::mutex> lock(files.mutex);
    auto it = files.files.find(path);
    if (it != files.files.end())
        forget(files, it);
}

void DeleteAllTempFiles()
{
    TempFiles &files = tempFiles();
    std::lock_guard<std::mutex> lock(files.mutex);
    while (!files.files.empty())
        forget(files, files.files.begin());
}

} // namespace sylvix
