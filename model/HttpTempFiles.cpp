#include "model/Http.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <set>

namespace sylvix {

namespace {

// Tries per call before giving up on a directory full of our names.
constexpr int kMaxTries = 100000;

struct TempFiles
{
    std::mutex mutex;
    int counter = 0; // the next number to try, for the whole process
    std::set<std::string> paths;
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
            files.paths.insert(name);
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

void DeleteTempFile(const std::string &path)
{
    TempFiles &files = tempFiles();
    std::lock_guard<std::mutex> lock(files.mutex);
    auto it = files.paths.find(path);
    if (it == files.paths.end())
        return;
    ::unlink(path.c_str());
    files.paths.erase(it);
}

void DeleteAllTempFiles()
{
    TempFiles &files = tempFiles();
    std::lock_guard<std::mutex> lock(files.mutex);
    for (const std::string &p : files.paths)
        ::unlink(p.c_str());
    files.paths.clear();
}

} // namespace sylvix
