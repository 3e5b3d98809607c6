#pragma once

// Runs one of the project's programs as a child process. The paths come
// from the build (SYLVIX_REG_PATH, SYLVIX_MAP_PATH: add_sylvix_test TOOLS).

#include "tests/support/TempDir.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <utility>
#include <vector>

namespace sylvix::test {

struct ToolRun
{
    int status = -1;      // exit status, -1 when it did not exit normally
    bool finished = true; // false: killed at the deadline
    std::string out, err;
};

// env: variables set (or, with an empty value, removed) for the child only;
// input is its standard input. A child still running after deadlineSeconds
// (0: no limit) is killed, so that a hang fails a test instead of stalling it.
inline ToolRun runTool(const std::string &path, const std::vector<std::string> &args,
                       const std::vector<std::pair<std::string, std::string>> &env = {},
                       const std::string &input = {}, int deadlineSeconds = 0)
{
    TempDir io;
    const std::string in = io.write("in", input), out = io / "out", err = io / "err";
    std::vector<char *> argv{const_cast<char *>(path.c_str())};
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fds[] = {::open(in.c_str(), O_RDONLY),
                           ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                           ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)};
        for (int i = 0; i < 3; ++i)
            if (fds[i] < 0 || ::dup2(fds[i], i) < 0)
                ::_exit(127);
        for (const auto &[name, value] : env)
            value.empty() ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), value.c_str(), 1);
        // The alarm outlives exec: it ends a tool still running at the deadline.
        ::alarm(static_cast<unsigned>(deadlineSeconds));
        ::execv(path.c_str(), argv.data());
        ::_exit(127);
    }
    ToolRun run;
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
        return run;
    run.finished = !WIFSIGNALED(status) || WTERMSIG(status) != SIGALRM;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readFile(out);
    run.err = readFile(err);
    return run;
}

} // namespace sylvix::test
