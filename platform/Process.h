#pragma once

// Companion programs started as processes of their own: no shell, the
// working folder given to the child only, arguments passed as bytes. A
// started process is held through a pidfd, so that ending it can never
// signal another process that happens to reuse its id.

#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace sylvix {

class ChildProcess
{
public:
    ChildProcess() = default;
    // Closes the handle; the process itself runs on.
    ~ChildProcess();
    ChildProcess(ChildProcess &&other) noexcept;
    ChildProcess &operator=(ChildProcess &&other) noexcept;
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Runs program with argv (argv[0] included) in folder ("" keeps ours), in
    // a session of its own. A program without "/" is taken relative to
    // folder, as a path. True when the program was executed; false with
    // error set when the folder or the program could not be used.
    bool Start(const std::string &program, const std::vector<std::string> &argv,
               const std::string &folder, std::string *error = nullptr);

    bool started() const { return m_pidfd >= 0; }
    pid_t pid() const { return m_pid; }
    // The pidfd, readable once the process has ended; -1 when none.
    int handle() const { return m_pidfd; }
    // True while started and not yet ended.
    bool running() const;
    // Kills the process (if it still runs) and collects it; the handle is
    // then cleared. False when there was nothing started.
    bool Terminate();
    // Waits up to timeoutMs for the end; the exit code (128 + signal for a
    // killed process) once ended, nullopt while it runs. Clears the handle
    // when it reports an end.
    std::optional<int> WaitForExit(int timeoutMs);
    // Lets the process go without ending it; it is collected once it has
    // ended, at a later start or ReapEndedChildren.
    void Release();

private:
    void closeHandle();

    int m_pidfd = -1;
    pid_t m_pid = 0;
};

// The full path of an executable found through $PATH, "" when none.
std::string FindInPath(const std::string &name);

// Collects every process let go (Release, destruction) that has ended.
void ReapEndedChildren();

} // namespace sylvix
