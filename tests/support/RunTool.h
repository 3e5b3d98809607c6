#pragma once

// Runs one of the project's programs as a child process. The paths come
// from the build (SYLVIX_REG_PATH, SYLVIX_MAP_PATH: add_sylvix_test TOOLS).

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
ToolRun runTool(const std::string &path, const std::vector<std::string> &args,
                const std::vector<std::pair<std::string, std::string>> &env = {},
                const std::string &input = {}, int deadlineSeconds = 0);

} // namespace sylvix::test
