#pragma once

// The server's transfer log (common log format), read for the Activity page:
// the requests for one URL path in the last so many days, newest first.
//
// Choices made here:
// - Every line is read, the file's first line and a last line without a
//   final line feed included. A final line feed does not open an empty line;
//   a "\r" before a line feed is dropped.
// - A line without "[", or without "]" after it, ends the reading: older
//   lines are not looked at. An empty line is such a line.
// - A line whose bracketed time is not 'DD/Mon/YYYY:HH:MM:SS' with digits,
//   one of the twelve month names and sane ranges is skipped; reading goes on.
// - Only the first kMaxLogLine bytes of a line count; client, protocol and
//   status are cut to kMaxLogClient, kMaxLogProtocol and kMaxLogStatus.
//   NUL is an ordinary byte.
// - The method is the first word of the first quoted part after "]" when
//   that word is GET, HEAD or POST; otherwise the first "GET", else "HEAD",
//   else "POST" anywhere after "]", else the first white space.
// - Lines are filtered, never used to stop early, so a log out of time
//   order still gives every match. A time in the future counts as recent.
// - The file is read backwards in chunks; memory stays small for any size.

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace sylvix {

inline constexpr size_t kMaxLogLine = 1024;
inline constexpr size_t kMaxLogClient = 256;
inline constexpr size_t kMaxLogProtocol = 32;
inline constexpr size_t kMaxLogStatus = 7;
inline constexpr size_t kLogTimeLength = 20;         // 'DD/Mon/YYYY:HH:MM:SS'
inline constexpr size_t kLogReadChunk = 1024 * 1024; // bytes read from the file at a time

// One accepted request.
struct LogRecord
{
    std::string client;
    std::string time; // as written, without brackets and zone
    std::string status;
};

// One log line taken apart.
struct LogLine
{
    std::string client;
    std::string time;   // up to kLogTimeLength bytes after "["
    std::string method; // "GET", "HEAD", "POST" or empty when none was found
    std::string path;
    std::string protocol;
    std::string status;
    bool timeValid = false;           // the fields below hold a well-formed time
    int day = 0, month = 0, year = 0; // month 1..12
    int hour = 0, minute = 0, second = 0;
};

// Takes one line apart (no I/O, any bytes). False when it has no "[" or no
// "]" after it: the reading of the log stops there.
bool ParseLogLine(std::string_view line, LogLine &out);

// The log file named by the server's values (no store involved).
std::string AccessLogLocation(std::string_view serverRoot, std::string_view logDir,
                              std::string_view transferLog);

// The log file named in the local store, "\" turned into "/"; empty when
// there is no local store, no server key or no "TransferLog".
std::string AccessLogPath();

enum class LogReadResult : int { Ok = 0, NoLog = 1, ReadError = 2 };

// Appends the matching lines of file to out, newest first. NoLog: not a
// readable regular file; ReadError: reading failed midway (out keeps what
// was found before).
LogReadResult ReadAccessLogFile(const std::string &file, std::string_view path, int days,
                                time_t now, std::vector<LogRecord> &out);

// The requests for path (exact, case-sensitive) less than days days before
// now, newest first; empty when the log cannot be found or read.
std::vector<LogRecord> ReadAccessLog(std::string_view path, int days,
                                     time_t now = std::time(nullptr));

} // namespace sylvix
