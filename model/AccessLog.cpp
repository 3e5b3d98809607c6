#include "model/AccessLog.h"

#include "model/Config.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sylvix {

namespace {

// The fields of one line, pointing into it.
struct LineView
{
    std::string_view client, time, method, path, protocol, status;
    bool timeValid = false;
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
};

constexpr std::array<std::string_view, 3> kMethods = {"GET", "HEAD", "POST"};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Digits at [from, from + count) of text, or -1.
int digitsAt(std::string_view text, size_t from, size_t count)
{
    int v = 0;
    for (size_t i = from; i < from + count; ++i) {
        if (!isDigit(text[i]))
            return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

int daysInMonth(int month, int year)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// D is the bracketed text, "[" and "]" included; the fields sit at fixed places.
void parseTime(std::string_view D, LineView &v)
{
    v.timeValid = false;
    if (D.size() < 2 + kLogTimeLength)
        return;
    if (D[3] != '/' || D[7] != '/' || D[12] != ':' || D[15] != ':' || D[18] != ':')
        return;
    auto month = std::find(kMonthNames.begin(), kMonthNames.end(), D.substr(4, 3));
    if (month == kMonthNames.end())
        return;
    v.month = static_cast<int>(month - kMonthNames.begin()) + 1;
    v.day = digitsAt(D, 1, 2);
    v.year = digitsAt(D, 8, 4);
    v.hour = digitsAt(D, 13, 2);
    v.minute = digitsAt(D, 16, 2);
    v.second = digitsAt(D, 19, 2);
    if (v.day < 1 || v.year < 0 || v.day > daysInMonth(v.month, v.year) || v.hour < 0 || v.hour > 23
        || v.minute < 0 || v.minute > 59 || v.second < 0 || v.second > 60)
        return;
    v.timeValid = true;
}

// The text of s from pos up to the first character for which stop is true.
template<class Stop>
std::string_view takeUntil(std::string_view s, size_t &pos, Stop stop)
{
    size_t begin = pos;
    while (pos < s.size() && !stop(s[pos]))
        ++pos;
    return s.substr(begin, pos - begin);
}

void skipOneSpace(std::string_view s, size_t &pos)
{
    if (pos < s.size() && isSpace(s[pos]))
        ++pos;
}

// Where the path starts in rest (the text after "]"), and the method found.
size_t methodEnd(std::string_view rest, std::string_view &method)
{
    // The request line as quoted, when it starts with a method we know.
    size_t quote = rest.find('"');
    if (quote != std::string_view::npos) {
        size_t pos = quote + 1;
        std::string_view word = takeUntil(rest, pos, [](char c) { return isSpace(c) || c == '"'; });
        for (std::string_view m : kMethods)
            if (word == m) {
                method = m;
                return pos;
            }
    }
    for (std::string_view m : kMethods) {
        size_t at = rest.find(m);
        if (at != std::string_view::npos) {
            method = m;
            return at + m.size();
        }
    }
    method = {};
    size_t pos = 0;
    takeUntil(rest, pos, isSpace);
    return pos;
}

// Where "[" and "]" sit in line (cut to kMaxLogLine); false when either is
// missing, which ends the reading.
bool findBrackets(std::string_view line, size_t &open, size_t &close)
{
    open = line.find('[');
    if (open == std::string_view::npos)
        return false;
    close = line.find(']', open + 1);
    return close != std::string_view::npos;
}

bool endsPath(char c)
{
    return isSpace(c) || c == '"';
}

// The request's path in rest (the text after "]"); pos ends after it.
std::string_view requestPath(std::string_view rest, std::string_view &method, size_t &pos)
{
    pos = methodEnd(rest, method);
    skipOneSpace(rest, pos);
    return takeUntil(rest, pos, endsPath);
}

// Whether the request's path in rest is want, comparing in place. A wanted
// path that holds a byte ending a path is compared the long way (and never
// matches).
bool requestPathIs(std::string_view rest, std::string_view want, bool plainWant)
{
    std::string_view method;
    size_t pos;
    if (!plainWant)
        return requestPath(rest, method, pos) == want;
    pos = methodEnd(rest, method);
    skipOneSpace(rest, pos);
    const size_t end = pos + want.size();
    return rest.compare(pos, want.size(), want) == 0 && (end == rest.size() || endsPath(rest[end]));
}

bool parseLine(std::string_view line, LineView &v)
{
    v = LineView();
    line = line.substr(0, kMaxLogLine);
    size_t pos = 0;
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    v.client = takeUntil(line, pos, blank).substr(0, kMaxLogClient);

    size_t open, close;
    if (!findBrackets(line, open, close))
        return false;
    std::string_view D = line.substr(open, close - open + 1);
    v.time = D.substr(1, std::min(kLogTimeLength, D.size() - 2));
    parseTime(D, v);

    std::string_view rest = line.substr(close + 1);
    v.path = requestPath(rest, v.method, pos);
    skipOneSpace(rest, pos);
    v.protocol = takeUntil(rest, pos, isSpace).substr(0, kMaxLogProtocol);
    skipOneSpace(rest, pos);
    v.status = takeUntil(rest, pos, isSpace).substr(0, kMaxLogStatus);
    return true;
}

bool readFully(int fd, char *to, size_t count, off_t at)
{
    while (count > 0) {
        ssize_t n = ::pread(fd, to, count, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false; // an error, or the file shrank under us
        to += n;
        count -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

// Hands out the lines of a file from the last to the first, each cut to
// kMaxLogLine bytes, holding one chunk of the file at a time. A line is
// looked at where it lies in the chunk; only one that straddles two chunks
// is copied.
class BackwardLines
{
public:
    BackwardLines(int fd, off_t size) : m_fd(fd), m_lineEnd(size)
    {
        if (size == 0) {
            m_done = true;
            return;
        }
        if (!load(size)) {
            m_failed = m_done = true;
            return;
        }
        if (m_buf[m_bufLen - 1] == '\n')
            --m_lineEnd;
    }

    bool failed() const { return m_failed; }

    // The view lasts until the next call.
    bool previous(std::string_view &line)
    {
        if (m_done)
            return false;
        const off_t end = m_lineEnd;
        off_t scan = end; // the line feed is searched in [0, scan)
        off_t feed = -1;
        while (scan > 0) {
            if (!(scan > m_bufStart && scan <= m_bufStart + static_cast<off_t>(m_bufLen))
                && !load(scan))
                return fail();
            size_t n = static_cast<size_t>(scan - m_bufStart);
            if (const void *hit = ::memrchr(m_buf.data(), '\n', n)) {
                feed = m_bufStart + (static_cast<const char *>(hit) - m_buf.data());
                break;
            }
            scan = m_bufStart;
        }
        const off_t start = feed + 1;
        const size_t full = static_cast<size_t>(end - start);
        size_t len = std::min(full, kMaxLogLine);
        const off_t bufEnd = m_bufStart + static_cast<off_t>(m_bufLen);
        const char *text;
        if (start >= m_bufStart && start + static_cast<off_t>(len) <= bufEnd) {
            text = m_buf.data() + (start - m_bufStart);
        } else {
            m_straddle.resize(len);
            if (!readFully(m_fd, m_straddle.data(), len, start))
                return fail();
            text = m_straddle.data();
        }
        if (full == len && len > 0 && text[len - 1] == '\r')
            --len;
        line = std::string_view(text, len);
        m_lineEnd = feed;
        m_done = feed < 0;
        return true;
    }

private:
    static constexpr off_t kChunk = static_cast<off_t>(kLogReadChunk);

    // Holds the chunk of the file that ends at end.
    bool load(off_t end)
    {
        off_t begin = std::max<off_t>(0, end - kChunk);
        m_buf.resize(static_cast<size_t>(kChunk));
        m_bufLen = 0;
        if (!readFully(m_fd, m_buf.data(), static_cast<size_t>(end - begin), begin))
            return false;
        m_bufStart = begin;
        m_bufLen = static_cast<size_t>(end - begin);
        return true;
    }

    bool fail()
    {
        m_failed = m_done = true;
        return false;
    }

    int m_fd;
    off_t m_lineEnd; // where the next line to hand out ends (its line feed, or the file's end)
    bool m_done = false;
    bool m_failed = false;
    std::vector<char> m_buf;
    std::string m_straddle;
    off_t m_bufStart = 0;
    size_t m_bufLen = 0;
};

// Local time to seconds. mktime looks at the zone files on every call, far
// too slow for a busy log, so whole hours are converted once and minutes and
// seconds added; an hour with a zone change in it goes through mktime line
// by line.
class LocalClock
{
public:
    time_t toTime(const LineView &v)
    {
        std::array<int, 4> hour = {v.year, v.month, v.day, v.hour};
        if (!m_valid || hour != m_hour) {
            m_hour = hour;
            m_valid = true;
            m_base = convert(v, 0, 0);
            m_linear = m_base != -1 && convert(v, 59, 59) - m_base == 3599;
        }
        if (m_linear)
            return m_base + v.minute * 60 + v.second;
        return convert(v, v.minute, v.second);
    }

private:
    static time_t convert(const LineView &v, int minute, int second)
    {
        struct tm tm = {};
        tm.tm_year = v.year - 1900;
        tm.tm_mon = v.month - 1;
        tm.tm_mday = v.day;
        tm.tm_hour = v.hour;
        tm.tm_min = minute;
        tm.tm_sec = second;
        tm.tm_isdst = -1;
        return std::mktime(&tm);
    }

    std::array<int, 4> m_hour{};
    bool m_valid = false;
    bool m_linear = false;
    time_t m_base = -1;
};

class FileHandle
{
public:
    explicit FileHandle(int fd) : m_fd(fd) {}
    ~FileHandle()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

bool ParseLogLine(std::string_view line, LogLine &out)
{
    LineView v;
    bool ok = parseLine(line, v);
    out = LogLine();
    out.client = v.client;
    out.time = v.time;
    out.method = v.method;
    out.path = v.path;
    out.protocol = v.protocol;
    out.status = v.status;
    out.timeValid = v.timeValid;
    if (v.timeValid) {
        out.day = v.day;
        out.month = v.month;
        out.year = v.year;
        out.hour = v.hour;
        out.minute = v.minute;
        out.second = v.second;
    }
    return ok;
}

std::string AccessLogLocation(std::string_view serverRoot, std::string_view logDir,
                              std::string_view transferLog)
{
    std::string dir;
    if ((!logDir.empty() && logDir[0] == '/') || (logDir.size() > 1 && logDir[1] == ':')) {
        dir = logDir;
    } else {
        dir = serverRoot;
        if (dir.empty() || dir.back() != '/')
            dir += '/';
        dir += logDir;
    }
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    dir += transferLog;
    return dir;
}

std::string AccessLogPath()
{
    // The log lies beside the server that writes it: always the local store.
    ConfigStore *store = LocalStore();
    if (!store)
        return {};
    std::unique_ptr<ConfigKey> root = store->root();
    std::unique_ptr<ConfigKey> server = root ? root->openKey(kServerKeyPath) : nullptr;
    if (!server)
        return {};
    std::string serverRoot, logDir, transferLog;
    ReadString(*server, "ServerRoot", serverRoot);
    if (std::unique_ptr<ConfigKey> logs = server->openKey("Logs")) {
        ReadString(*logs, "TransferLog", transferLog);
        ReadString(*logs, "LogDir", logDir);
    }
    if (transferLog.empty())
        return {};
    std::string file = AccessLogLocation(serverRoot, logDir, transferLog);
    std::replace(file.begin(), file.end(), '\\', '/'); // values written the Windows way
    return file;
}

LogReadResult ReadAccessLogFile(const std::string &file, std::string_view path, int days,
                                time_t now, std::vector<LogRecord> &out)
{
    FileHandle fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        return LogReadResult::NoLog;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return LogReadResult::NoLog;

    const int64_t window = static_cast<int64_t>(days) * 86400;
    BackwardLines lines(fd.get(), st.st_size);
    const bool plainPath = std::none_of(path.begin(), path.end(), endsPath);
    std::string_view line;
    LineView v;
    LocalClock clock;
    while (lines.previous(line)) {
        // Most lines are for other paths: find that out before anything else.
        line = line.substr(0, kMaxLogLine);
        size_t open, close;
        if (!findBrackets(line, open, close))
            break;
        if (!requestPathIs(line.substr(close + 1), path, plainPath))
            continue;
        parseLine(line, v);
        if (!v.timeValid)
            continue;
        const time_t when = clock.toTime(v);
        if (static_cast<int64_t>(now) - static_cast<int64_t>(when) >= window)
            continue;
        out.push_back(LogRecord{std::string(v.client), std::string(v.time), std::string(v.status)});
    }
    return lines.failed() ? LogReadResult::ReadError : LogReadResult::Ok;
}

std::vector<LogRecord> ReadAccessLog(std::string_view path, int days, time_t now)
{
    std::vector<LogRecord> records;
    std::string file = AccessLogPath();
    if (!file.empty())
        ReadAccessLogFile(file, path, days, now, records);
    return records;
}

} // namespace sylvix
