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
// deleted at exit and when the process is ended by SIGTERM, SIGHUP, SIGPIPE
// or SIGINT (unless it handles or ignores that signal itself).
// DeleteTempFile only deletes files made by MakeTempName or OpenTempFile in
// this process.
void DeleteTempFile(const std::string &path);
void DeleteAllTempFiles();

// Kept bodies share a budget in the temporary folder; a body that would
// pass it is checked but not kept.
inline constexpr int64_t kDefaultTempBudget = 256LL << 20;
void SetTempBudget(int64_t bytes); // below 0: the default
int64_t TempBudget();
int64_t TempBytesKept();
// Counts bytes more for the temporary file at path; false, counting
// nothing, when that would pass the budget.
bool ReserveTempBytes(const std::string &path, int64_t bytes);

// Every check (its lookups, connects, redirects and reads together) ends
// within this time; the node then says so.
inline constexpr int kDefaultHttpCheckMs = 60000;
void SetHttpCheckDeadline(int ms); // below 0: the default
int HttpCheckDeadline();
// Whether the check in progress ran out of time (its waits then end as if
// cancelled).
bool HttpCheckExpired();

// Whether message is a note a check leaves on its node (a body not kept, a
// check stopped at its deadline): it says why the node is what it is, so a
// parse of the document keeps it beside its own messages.
bool IsCheckNote(std::string_view message);
inline constexpr std::string_view kNotKeptNote = "The document was checked but not kept: ";

} // namespace sylvix
