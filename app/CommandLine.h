#pragma once

// The command line of the windowed program and the process-wide values of
// the application shell.

#include <optional>
#include <string>
#include <vector>

namespace sylvix {

inline constexpr size_t kCommandLineChars = 511; // longer command lines are cut here
inline constexpr size_t kMaxCommandWords = 32;
inline constexpr size_t kArgumentChars = 255; // -r machine name and root URL
inline constexpr size_t kTreeUrlChars = 511;

// URL for the next new tree; empty means another window on the first tree.
extern std::string treeUrl;
extern std::optional<std::string> remoteRegistryMachine;
extern std::optional<std::string> rootUrlArgument;

// The words of the last SplitCommandLine; word 0 is the program path.
extern std::vector<std::string> commandWords;

// argv joined by blanks, as the process's command line reads.
std::string JoinArguments(int argc, const char *const *argv);

// Cuts text (at most 511 characters) into at most 32 words at blanks; a
// run of blanks separates once, tabs do not separate, quotes mean nothing.
void SplitCommandLine(const std::string &text);

// Outcome of ParseCommandLine: an empty error means the values are set.
struct ParseResult
{
    std::string error;
};

// Sets remoteRegistryMachine ("-r"/"/r" and the next word) and
// rootUrlArgument (the last other word) from words 1 onwards. A -r with no
// word after it gives the fatal error text.
ParseResult ParseCommandLine(const std::vector<std::string> &words);

} // namespace sylvix
