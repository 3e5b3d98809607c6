// The access-log reader: one line taken apart, and a whole log read
// backwards from a file, compared with a plain forward reading of the same
// bytes.
//
// Input: one byte of switches (bits 0-1: how many days back to look; bits
// 2-4 all set: the log grows past the reader's chunk size, bits 5-7 then
// place the chunk's seam inside the input), then the log's bytes.
//
// Besides the sanitizers' reports, a run fails when a field is longer than
// its limit, a time said to be well formed is out of range, or the backward
// reading gives other records than the forward one.

#include "model/AccessLog.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace sylvix;

namespace {

std::string g_logFile;
std::string g_logDir;

void removeLogDir()
{
    std::error_code ec;
    std::filesystem::remove_all(g_logDir, ec);
}

// Files written on every run go to memory when the machine offers it.
std::filesystem::path fuzzScratchRoot()
{
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec))
        return "/dev/shm";
    return std::filesystem::temp_directory_path();
}

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "accesslog fuzz: %s\n", what);
        std::abort();
    }
}

void checkLine(std::string_view text)
{
    LogLine line;
    if (!ParseLogLine(text, line))
        return;
    check(line.client.size() <= kMaxLogClient, "client too long");
    check(line.protocol.size() <= kMaxLogProtocol, "protocol too long");
    check(line.status.size() <= kMaxLogStatus, "status too long");
    check(line.time.size() <= kLogTimeLength, "time too long");
    check(line.path.size() <= kMaxLogLine, "path too long");
    check(line.method.empty() || line.method == "GET" || line.method == "HEAD"
              || line.method == "POST",
          "unknown method");
    if (line.timeValid)
        check(line.month >= 1 && line.month <= 12 && line.day >= 1 && line.day <= 31
                  && line.hour >= 0 && line.hour <= 23 && line.minute >= 0 && line.minute <= 59
                  && line.second >= 0 && line.second <= 60 && line.year >= 0,
              "a well-formed time out of range");
}

time_t fixedNow()
{
    struct tm tm = {};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 5;
    tm.tm_mday = 15;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

// The lines of log as the reader documents them, last first.
std::vector<std::string> linesBackwards(std::string_view log)
{
    std::vector<std::string> lines;
    if (log.empty())
        return lines;
    if (log.back() == '\n')
        log.remove_suffix(1); // a final line feed opens no line
    size_t start = 0;
    for (;;) {
        size_t feed = log.find('\n', start);
        std::string_view line
            = log.substr(start, feed == std::string_view::npos ? log.npos : feed - start);
        if (line.size() > kMaxLogLine)
            line = line.substr(0, kMaxLogLine);
        else if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.emplace_back(line);
        if (feed == std::string_view::npos)
            break;
        start = feed + 1;
    }
    return {lines.rbegin(), lines.rend()};
}

std::vector<LogRecord> readForwards(std::string_view log, std::string_view path, int days,
                                    time_t now)
{
    std::vector<LogRecord> out;
    for (const std::string &text : linesBackwards(log)) {
        LogLine line;
        if (!ParseLogLine(text, line))
            break;
        if (!line.timeValid || line.path != path)
            continue;
        struct tm tm = {};
        tm.tm_year = line.year - 1900;
        tm.tm_mon = line.month - 1;
        tm.tm_mday = line.day;
        tm.tm_hour = line.hour;
        tm.tm_min = line.minute;
        tm.tm_sec = line.second;
        tm.tm_isdst = -1;
        const time_t t = std::mktime(&tm);
        if (static_cast<int64_t>(now) - static_cast<int64_t>(t)
            >= static_cast<int64_t>(days) * 86400)
            continue;
        out.push_back(LogRecord{line.client, line.time, line.status});
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::string pattern = (fuzzScratchRoot() / "sylvix-fuzz-log-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        std::abort();
    g_logDir = pattern;
    g_logFile = g_logDir + "/access.log";
    std::atexit(removeLogDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t sw = data[0];
    std::string_view input(reinterpret_cast<const char *>(data) + 1, size - 1);
    static const int dayChoices[] = {0, 1, 30, 1 << 20};
    const int days = dayChoices[sw & 3];

    checkLine(input);

    std::string log(input);
    if ((sw & 0x1c) == 0x1c && !input.empty()) {
        // Lines after the input make the file larger than the reader's
        // chunk, so that the chunk's seam falls inside the
        // input, at the place the next byte picks. They parse (reading goes
        // on) and have no time (nothing to convert), so they cost little.
        const size_t seam = (sw >> 5) * input.size() / 8;
        const size_t total = kLogReadChunk + seam;
        if (log.back() != '\n')
            log += '\n';
        while (log.size() < total) {
            const size_t room = total - log.size();
            // Lines of up to 1000 bytes, none shorter than "[]\n".
            const size_t line = room <= 1000 ? room : room < 1003 ? room - 3 : 1000;
            if (line < 3) {
                log.append(room, '\n'); // only when the input alone nearly fills the chunk
                break;
            }
            log += '[';
            log.append(line - 3, 'f');
            log += "]\n";
        }
    }
    {
        std::ofstream out(g_logFile, std::ios::binary | std::ios::trunc);
        out.write(log.data(), static_cast<std::streamsize>(log.size()));
        check(static_cast<bool>(out), "cannot write the log");
    }

    const std::vector<std::string> lines = linesBackwards(log);
    LogLine last;
    std::string path
        = !lines.empty() && ParseLogLine(lines.front(), last) ? last.path : std::string("/");
    static const time_t now = fixedNow();
    std::vector<LogRecord> records;
    const LogReadResult result = ReadAccessLogFile(g_logFile, path, days, now, records);
    check(result == LogReadResult::Ok, "the log could not be read");
    const std::vector<LogRecord> expected = readForwards(log, path, days, now);
    check(records.size() == expected.size(), "another number of records than a forward reading");
    for (size_t i = 0; i < records.size(); ++i)
        check(records[i].client == expected[i].client && records[i].time == expected[i].time
                  && records[i].status == expected[i].status,
              "another record than a forward reading");
    return 0;
}
