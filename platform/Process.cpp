#include "platform/Process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

namespace sylvix {

namespace {

int pidfdOpen(pid_t pid)
{
    return int(::syscall(SYS_pidfd_open, pid, 0));
}

int pidfdSendSignal(int pidfd, int sig)
{
    return int(::syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
}

enum class Collected { Ended, Running, NotOurs };

// waitid on a pidfd: Ended once the process has ended and is collected,
// NotOurs when it was collected before.
Collected collect(int pidfd, int options, siginfo_t &info)
{
    std::memset(&info, 0, sizeof info);
    int r;
    do {
        r = ::waitid(idtype_t(P_PIDFD), id_t(pidfd), &info, WEXITED | options);
    } while (r < 0 && errno == EINTR);
    if (r < 0)
        return Collected::NotOurs;
    return info.si_pid != 0 ? Collected::Ended : Collected::Running;
}

int exitCode(const siginfo_t &info)
{
    return info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
}

// Started children that were let go while still uncollected, so that a
// finished program does not stay a zombie for the rest of the run.
std::mutex startedLock;
std::vector<int> startedChildren;

// Takes over the pidfd of a process nobody waits for any more.
void remember(int pidfd)
{
    std::lock_guard lock(startedLock);
    startedChildren.push_back(pidfd);
}

struct ExecFailure
{
    int stage; // 1: the folder, 2: the program
    int error;
};

[[noreturn]] void childFails(int pipeFd, int stage)
{
    const ExecFailure failure{stage, errno};
    [[maybe_unused]] ssize_t n = ::write(pipeFd, &failure, sizeof failure);
    ::_exit(127);
}

} // namespace

void ReapEndedChildren()
{
    std::lock_guard lock(startedLock);
    for (size_t i = 0; i < startedChildren.size();) {
        siginfo_t info;
        const int fd = startedChildren[i];
        if (collect(fd, WNOHANG, info) != Collected::Running) {
            ::close(fd);
            startedChildren[i] = startedChildren.back();
            startedChildren.pop_back();
        } else {
            ++i;
        }
    }
}

ChildProcess::~ChildProcess()
{
    Release();
}

ChildProcess::ChildProcess(ChildProcess &&other) noexcept
    : m_pidfd(std::exchange(other.m_pidfd, -1)), m_pid(std::exchange(other.m_pid, 0))
{}

ChildProcess &ChildProcess::operator=(ChildProcess &&other) noexcept
{
    if (this != &other) {
        Release();
        m_pidfd = std::exchange(other.m_pidfd, -1);
        m_pid = std::exchange(other.m_pid, 0);
    }
    return *this;
}

void ChildProcess::Release()
{
    if (m_pidfd >= 0)
        remember(m_pidfd);
    m_pidfd = -1;
    m_pid = 0;
}

void ChildProcess::closeHandle()
{
    if (m_pidfd >= 0)
        ::close(m_pidfd);
    m_pidfd = -1;
    m_pid = 0;
}

bool ChildProcess::Start(const std::string &program, const std::vector<std::string> &argv,
                         const std::string &folder, std::string *error)
{
    Release();
    ReapEndedChildren();
    if (program.empty()) {
        if (error)
            *error = "no program";
        return false;
    }
    // Everything the child touches is made before the fork: after it, only
    // calls that are safe in a copy of a threaded process.
    std::vector<char *> args;
    if (argv.empty())
        args.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    const char *path = program.c_str();
    const char *dir = folder.empty() ? nullptr : folder.c_str();

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        if (error)
            *error = std::strerror(errno);
        return false;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int e = errno;
        ::close(report[0]);
        ::close(report[1]);
        if (error)
            *error = std::strerror(e);
        return false;
    }
    if (pid == 0) {
        ::close(report[0]);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction dfl = {};
        dfl.sa_handler = SIG_DFL;
        ::sigaction(SIGPIPE, &dfl, nullptr);
        ::setsid(); // its own session and group: our terminal's signals are not its
        if (dir && ::chdir(dir) != 0)
            childFails(report[1], 1);
        ::execv(path, args.data());
        childFails(report[1], 2);
    }
    ::close(report[1]);
    // The child is ours and not yet collected, so its id cannot have been
    // reused in between.
    const int pidfd = pidfdOpen(pid);
    ExecFailure failure{};
    ssize_t n;
    do {
        n = ::read(report[0], &failure, sizeof failure);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    if (n == ssize_t(sizeof failure)) {
        int status;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (pidfd >= 0)
            ::close(pidfd);
        if (error)
            *error = std::string(failure.stage == 1 ? "cannot enter " + folder
                                                    : "cannot run " + program)
                     + ": " + std::strerror(failure.error);
        return false;
    }
    if (pidfd < 0) {
        // No pidfd (an old kernel): the process runs, but is not ours to end.
        if (error)
            *error = std::strerror(errno);
        return true;
    }
    m_pidfd = pidfd;
    m_pid = pid;
    return true;
}

bool ChildProcess::running() const
{
    if (m_pidfd < 0)
        return false;
    pollfd p{m_pidfd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 0; // the pidfd turns readable at the end
}

bool ChildProcess::Terminate()
{
    if (m_pidfd < 0)
        return false;
    // Until it is collected the id stays ours, and so does the group it
    // leads: what it started goes with it.
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    if (::waitid(idtype_t(P_PIDFD), id_t(m_pidfd), &info, WEXITED | WNOHANG | WNOWAIT) == 0)
        ::kill(-m_pid, SIGKILL);
    pidfdSendSignal(m_pidfd, SIGKILL);
    collect(m_pidfd, 0, info);
    closeHandle();
    return true;
}

std::optional<int> ChildProcess::WaitForExit(int timeoutMs)
{
    if (m_pidfd < 0)
        return std::nullopt;
    pollfd p{m_pidfd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r <= 0)
        return std::nullopt;
    siginfo_t info;
    const Collected c = collect(m_pidfd, WNOHANG, info);
    if (c != Collected::Running)
        closeHandle();
    if (c != Collected::Ended)
        return std::nullopt;
    return exitCode(info);
}

std::string FindInPath(const std::string &name)
{
    if (name.empty())
        return {};
    auto usable = [](const std::string &p) {
        struct stat st;
        return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
    };
    if (name.find('/') != std::string::npos)
        return usable(name) ? name : std::string();
    const char *env = std::getenv("PATH");
    const std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        std::string dir = path.substr(start, end - start);
        if (dir.empty())
            dir = ".";
        const std::string candidate = dir + "/" + name;
        if (usable(candidate))
            return candidate;
        start = end + 1;
    }
    return {};
}

} // namespace sylvix
