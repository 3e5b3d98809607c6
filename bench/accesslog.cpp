// Times one access-log query on a generated common-log file.
//
// usage: accesslog FILE [GIGABYTES] [--keep]
//   Writes GIGABYTES (default 1) of realistic log lines to FILE unless it
//   exists, then asks for the requests of one page in the last 30 days and
//   prints seconds, MB/s and peak memory. FILE is removed afterwards unless
//   --keep is given or it existed before.

#include "model/AccessLog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace sylvix;

namespace {

const char *const kMonths[]
    = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Clients, pages and agents drawn with a skew, times rising a little per line
// up to now, so that the query window holds the last part of the file.
bool generate(const char *file, double gigabytes, time_t now)
{
    FILE *out = std::fopen(file, "w");
    if (!out)
        return false;
    const uint64_t target = static_cast<uint64_t>(gigabytes * 1024 * 1024 * 1024);
    const uint64_t approxLines = target / 190;
    std::mt19937_64 rng(42);
    std::vector<std::string> pages;
    for (int s = 0; s < 40; ++s)
        for (int p = 0; p < 250; ++p)
            pages.push_back("/section" + std::to_string(s) + "/page" + std::to_string(p) + ".html");
    const char *const agents[] = {"Mozilla/5.0 (X11; Linux x86_64)",
                                  "Mozilla/5.0 (Windows NT 10.0)", "curl/7.88.1", "Googlebot/2.1"};
    const char *const statuses[] = {"200", "200", "200", "200", "304", "404", "301"};
    const time_t first = now - 120 * 86400;
    std::vector<char> line(2048);
    uint64_t written = 0, n = 0;
    while (written < target) {
        time_t t
            = first + static_cast<time_t>((now - first) * static_cast<double>(n) / approxLines);
        struct tm tm;
        localtime_r(&t, &tm);
        uint64_t r = rng();
        // A third of the requests are for the home page.
        const std::string &page = r % 3 == 0 ? pages[0] : pages[(r >> 2) % pages.size()];
        int len = std::snprintf(
            line.data(), line.size(),
            "10.%u.%u.%u - - [%02d/%s/%04d:%02d:%02d:%02d +0000] \"%s %s HTTP/1.1\" %s %u "
            "\"http://www.example.org/\" \"%s\"\n",
            static_cast<unsigned>(r >> 8 & 255), static_cast<unsigned>(r >> 16 & 255),
            static_cast<unsigned>(r >> 24 & 255), tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900,
            tm.tm_hour, tm.tm_min, tm.tm_sec, (r >> 32) % 20 ? "GET" : "POST", page.c_str(),
            statuses[(r >> 36) % 7], static_cast<unsigned>(r >> 40 & 0xffff),
            agents[(r >> 56) % 4]);
        std::fwrite(line.data(), 1, static_cast<size_t>(len), out);
        written += static_cast<uint64_t>(len);
        ++n;
    }
    return std::fclose(out) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: accesslog FILE [GIGABYTES] [--keep]\n");
        return 2;
    }
    const char *file = argv[1];
    double gigabytes = 1;
    bool keep = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keep") == 0)
            keep = true;
        else if ((gigabytes = std::atof(argv[i])) <= 0) {
            std::fprintf(stderr, "accesslog: GIGABYTES must be a positive number\n");
            return 2;
        }
    }
    const time_t now = std::time(nullptr);
    struct stat st;
    const bool existed = ::stat(file, &st) == 0;
    if (!existed) {
        std::printf("writing %.2f GB to %s\n", gigabytes, file);
        if (!generate(file, gigabytes, now)) {
            std::fprintf(stderr, "accesslog: cannot write %s: %s\n", file, std::strerror(errno));
            ::unlink(file);
            return 1;
        }
        ::stat(file, &st);
    }
    std::vector<LogRecord> found;
    struct rusage before;
    getrusage(RUSAGE_SELF, &before);
    auto begin = std::chrono::steady_clock::now();
    LogReadResult r = ReadAccessLogFile(file, "/section3/page17.html", 30, now, found);
    double seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    const double mb = static_cast<double>(st.st_size) / (1024 * 1024);
    std::printf("log %.0f MB, result %d, %zu requests found\n", mb, static_cast<int>(r),
                found.size());
    auto cpu = [](const struct rusage &r) {
        return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec)
               + static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    };
    std::printf("query %.3f s (CPU %.3f s), %.0f MB/s, peak memory %.1f MiB\n", seconds,
                cpu(ru) - cpu(before), mb / seconds, static_cast<double>(ru.ru_maxrss) / 1024);
    if (!existed && !keep)
        ::unlink(file);
    return r == LogReadResult::Ok ? 0 : 1;
}
