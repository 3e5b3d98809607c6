#pragma once

// Checking an external document over HTTP/1.0.

#include "platform/Net.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace sylvix {

class SiteNode;

// Wait results.
enum WaitStatus : int {
    WaitDone = 0,
    WaitCancelled = 1,
    WaitTimedOut = 2,
    WaitNetError = 3,
    WaitCannotStart = 4
};
static_assert(static_cast<int>(WaitCancelled) == static_cast<int>(NetCancelled)
              && static_cast<int>(WaitTimedOut) == static_cast<int>(NetTimedOut)
              && static_cast<int>(WaitNetError) == static_cast<int>(NetError)
              && static_cast<int>(WaitCannotStart) == static_cast<int>(NetCannotStart));

// 1 when the check finished (the node's flags tell the outcome), 0 when it was stopped.
int FetchOverHttp(SiteNode *node);

// Redirects (301/302 answers and "Redirect:" headers) followed by one check
// before the node counts as broken.
inline constexpr int kMaxHttpRedirects = 10;

// The waits of a check. Each clears the cancel request when it starts, keeps
// calling PumpMessages while it waits, and ends at once, as cancelled, when
// that reports a cancel request. Limits: see SetNetworkTimeouts.
std::optional<HostRecord> LookupHostByName(const std::string &host, int &status);
std::optional<HostRecord> LookupHostByAddress(const void *address, size_t length, int family,
                                              int &status);
size_t ReceiveWithTimeout(int socket, char *buffer, size_t length, int flags, int &status);

// Creates a fresh empty file "sy<n><extension>" in $TMPDIR (else /tmp) and
// returns its path, "" when no file could be made. An extension holding a
// "/" is not used.
std::string MakeTempName(std::string_view extension);
// The same, open for writing: returns the descriptor (-1 on failure) and the
// path in path.
int OpenTempFile(std::string_view extension, std::string &path);
time_t ParseHttpDate(const char *text);

// Temporary files made for fetched documents and not yet deleted; all are
// deleted at exit. DeleteTempFile only deletes files made by MakeTempName
// or OpenTempFile in this process.
void DeleteTempFile(const std::string &path);
void DeleteAllTempFiles();

} // namespace sylvix
