#include "model/AccessLog.h"
#include "model/Config.h"

#include "ModelFixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/resource.h>

using namespace sylvix;
using namespace sylvix::test;

namespace {

// A fixed "now" in mid-June, far from any daylight-saving change, so that
// local times convert both ways in every time zone.
time_t FixedNow()
{
    struct tm tm = {};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 5;
    tm.tm_mday = 15;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

std::string Stamp(time_t t)
{
    static const char *months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm tm;
    localtime_r(&t, &tm);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d/%s/%04d:%02d:%02d:%02d", tm.tm_mday, months[tm.tm_mon],
                  tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string Line(const std::string &client, time_t t, const std::string &request,
                 const std::string &status = "200")
{
    return client + " - - [" + Stamp(t) + " +0200] \"" + request + "\" " + status + " 512";
}

std::vector<std::string> Clients(const std::vector<LogRecord> &records)
{
    std::vector<std::string> out;
    for (const LogRecord &r : records)
        out.push_back(r.client);
    return out;
}

// Sets the process's time zone for a scope.
class ZoneGuard
{
public:
    explicit ZoneGuard(const char *zone)
    {
        const char *saved = std::getenv("TZ");
        m_had = saved != nullptr;
        m_saved = saved ? saved : "";
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard()
    {
        if (m_had)
            setenv("TZ", m_saved.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool m_had;
    std::string m_saved;
};

// A store whose server key names <dir>/srv/logs/access.log as the log.
class AccessLog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto store = OpenSqliteStore(m_dir / "r.db");
        ASSERT_TRUE(store);
        m_server = store->root()->createKey(kServerKeyPath);
        ASSERT_TRUE(m_server);
        WriteString(*m_server, "ServerRoot", m_dir / "srv");
        m_logs = m_server->createKey("Logs");
        ASSERT_TRUE(m_logs);
        WriteString(*m_logs, "LogDir", "logs");
        WriteString(*m_logs, "TransferLog", "access.log");
        UseStores(std::move(store));
    }
    void TearDown() override
    {
        m_logs.reset();
        m_server.reset();
        CloseConfiguration();
    }

    void writeLog(const std::vector<std::string> &lines, const char *eol = "\n", bool lastEol = true)
    {
        std::string text;
        for (size_t i = 0; i < lines.size(); ++i) {
            text += lines[i];
            if (i + 1 < lines.size() || lastEol)
                text += eol;
        }
        m_dir.write("srv/logs/access.log", text);
    }

    TempDir m_dir;
    std::unique_ptr<ConfigKey> m_server, m_logs;
    const time_t m_now = FixedNow();
};

} // namespace

TEST_F(AccessLog, DayWindowIsStrict)
{
    const time_t twoDays = m_now - 2 * 86400;
    writeLog({Line("exact", twoDays, "GET /a.html HTTP/1.0"),
              Line("inside", twoDays + 1, "GET /a.html HTTP/1.0"),
              Line("future", m_now + 3600, "GET /a.html HTTP/1.0")});
    struct Case
    {
        int days;
        std::vector<std::string> clients;
    } cases[] = {
        {3, {"future", "inside", "exact"}},
        {2, {"future", "inside"}},
        {1, {"future"}},
        {0, {"future"}}, // clock skew: a future line is always recent
        {-5, {}}, // the window lies wholly in the future
    };
    for (const Case &c : cases)
        EXPECT_EQ(Clients(ReadAccessLog("/a.html", c.days, m_now)), c.clients) << c.days;
}

TEST_F(AccessLog, PathIsExactAndEveryMethodCounts)
{
    const time_t t = m_now - 600;
    writeLog({Line("get", t, "GET /a.html HTTP/1.0", "200"),
              Line("upper", t + 1, "GET /A.html HTTP/1.0"),
              Line("head", t + 2, "HEAD /a.html HTTP/1.0", "304"),
              Line("query", t + 3, "GET /a.html?x=1 HTTP/1.0"),
              Line("longer", t + 4, "GET /a.htmlx HTTP/1.0"),
              Line("post", t + 5, "POST /a.html HTTP/1.0", "404"),
              Line("tricky", t + 6, "POST /GET/a.html HTTP/1.0")});
    std::vector<LogRecord> got = ReadAccessLog("/a.html", 1, m_now);
    ASSERT_EQ(Clients(got), (std::vector<std::string>{"post", "head", "get"}));
    EXPECT_EQ(got[0].status, "404");
    EXPECT_EQ(got[1].status, "304");
    EXPECT_EQ(got[2].time, Stamp(t));
    EXPECT_EQ(Clients(ReadAccessLog("/GET/a.html", 1, m_now)),
              (std::vector<std::string>{"tricky"}));
}

TEST_F(AccessLog, LineWithoutBracketsHidesOlderLinesButBadTimeOnlySkips)
{
    const time_t t = m_now - 600;
    writeLog({Line("oldest", t, "GET /a.html HTTP/1.0"),
              "garbage without a date",
              Line("middle", t + 1, "GET /a.html HTTP/1.0"),
              "bad - - [15/Jum/2024:11:00:00 +0000] \"GET /a.html HTTP/1.0\" 200 1",
              "bad - - [31/Jun/2024:11:00:00 +0000] \"GET /a.html HTTP/1.0\" 200 1",
              "bad - - [15/Jun/2024] \"GET /a.html HTTP/1.0\" 200 1",
              Line("newest", t + 2, "GET /a.html HTTP/1.0")});
    EXPECT_EQ(Clients(ReadAccessLog("/a.html", 1, m_now)),
              (std::vector<std::string>{"newest", "middle"}));

    writeLog({Line("old", t, "GET /a.html HTTP/1.0"), "", Line("new", t + 1, "GET /a.html HTTP/1.0")});
    EXPECT_EQ(Clients(ReadAccessLog("/a.html", 1, m_now)), (std::vector<std::string>{"new"}));
}

TEST_F(AccessLog, FirstAndLastLinesAreReadWhateverTheLineEnds)
{
    const time_t t = m_now - 600;
    std::vector<std::string> lines = {Line("first", t, "GET /a.html HTTP/1.0"),
                                      Line("second", t + 1, "GET /a.html HTTP/1.0"),
                                      Line("last", t + 2, "GET /a.html HTTP/1.0")};
    const std::vector<std::string> expected = {"last", "second", "first"};
    struct Case
    {
        const char *eol;
        bool lastEol;
    } cases[] = {{"\n", true}, {"\n", false}, {"\r\n", true}, {"\r\n", false}};
    for (const Case &c : cases) {
        writeLog(lines, c.eol, c.lastEol);
        std::vector<LogRecord> got = ReadAccessLog("/a.html", 1, m_now);
        EXPECT_EQ(Clients(got), expected) << c.eol << c.lastEol;
        if (!got.empty()) {
            EXPECT_EQ(got[0].status, "200"); // no "\r" left behind
        }
    }
    writeLog({Line("only", t, "GET /a.html HTTP/1.0")}, "\n", false);
    EXPECT_EQ(Clients(ReadAccessLog("/a.html", 1, m_now)), (std::vector<std::string>{"only"}));
    writeLog({});
    EXPECT_TRUE(ReadAccessLog("/a.html", 1, m_now).empty());
}

TEST_F(AccessLog, LocationFollowsTheLocalStore)
{
    struct Case
    {
        const char *root, *dir, *name, *expected;
    } cases[] = {
        {"c:\\srv", "logs", "access.log", "c:\\srv/logs/access.log"},
        {"/srv/", "logs/", "a", "/srv/logs/a"},
        {"/srv", "/var/log/norvane", "a", "/var/log/norvane/a"},
        {"/srv", "d:\\logs", "a", "d:\\logs/a"},
        {"/srv", "", "a", "/srv/a"},
        {"", "logs", "a", "/logs/a"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(AccessLogLocation(c.root, c.dir, c.name), c.expected) << c.root << " " << c.dir;

    const std::string line = Line("x", m_now - 60, "GET /a.html HTTP/1.0");
    writeLog({line});
    EXPECT_EQ(AccessLogPath(), m_dir / "srv/logs/access.log");
    EXPECT_EQ(ReadAccessLog("/a.html", 1, m_now).size(), 1u);

    // An absolute directory stands on its own.
    m_dir.write("elsewhere/other.log", line + "\n" + line + "\n");
    WriteString(*m_logs, "LogDir", m_dir / "elsewhere");
    WriteString(*m_logs, "TransferLog", "other.log");
    EXPECT_EQ(ReadAccessLog("/a.html", 1, m_now).size(), 2u);

    // The server's configuration on another machine does not move the log.
    auto remote = OpenSqliteStore(m_dir / "remote.db");
    ASSERT_TRUE(remote);
    auto remoteLogs = remote->root()->createKey(std::string(kServerKeyPath) + "\\Logs");
    WriteString(*remoteLogs, "LogDir", "/nowhere");
    remoteLogs.reset();
    m_logs.reset();
    m_server.reset();
    auto local = OpenSqliteStore(m_dir / "r.db");
    ASSERT_TRUE(local);
    UseStores(std::move(local), std::move(remote));
    EXPECT_EQ(ReadAccessLog("/a.html", 1, m_now).size(), 2u);

    // No "TransferLog", no log; no store at all, nothing either.
    m_logs = LocalStore()->root()->openKey(std::string(kServerKeyPath) + "\\Logs");
    ASSERT_TRUE(m_logs);
    m_logs->deleteValue("TransferLog");
    EXPECT_EQ(AccessLogPath(), "");
    EXPECT_TRUE(ReadAccessLog("/a.html", 1, m_now).empty());
    m_logs.reset();
    CloseConfiguration();
    EXPECT_TRUE(ReadAccessLog("/a.html", 1, m_now).empty());
}

TEST_F(AccessLog, MissingOrUnreadableLogGivesNothing)
{
    std::vector<LogRecord> out;
    EXPECT_EQ(ReadAccessLogFile(m_dir / "none.log", "/a.html", 1, m_now, out), LogReadResult::NoLog);
    EXPECT_EQ(ReadAccessLogFile(m_dir.path(), "/a.html", 1, m_now, out), LogReadResult::NoLog);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(ReadAccessLog("/a.html", 1, m_now).empty()); // the configured file is absent
}

// Lines that straddle the reader's chunks, and lines far longer than one.
TEST_F(AccessLog, ManyAndLongLinesAcrossChunks)
{
    std::vector<std::string> lines;
    std::vector<std::string> expected;
    const time_t t = m_now - 80000;
    for (int i = 0; i < 20000; ++i) {
        std::string path = i % 3 == 0 ? "/a.html" : "/b.html";
        std::string client = "c" + std::to_string(i) + std::string(static_cast<size_t>(i % 97), 'x');
        std::string line = Line(client, t + i, "GET " + path + " HTTP/1.0");
        if (i % 5000 == 1)
            line += " " + std::string(300000, 'z'); // beyond a chunk; only the start matters
        lines.push_back(line);
        if (i % 3 == 0)
            expected.insert(expected.begin(), client);
    }
    writeLog(lines);
    EXPECT_EQ(Clients(ReadAccessLog("/a.html", 1, m_now)), expected);
    EXPECT_EQ(ReadAccessLog("/b.html", 1, m_now).size(), lines.size() - expected.size());
}

// Times convert exactly also in an hour where the clock jumps by half an
// hour (the reader converts whole hours at once where it can).
TEST_F(AccessLog, TimesAcrossAZoneChange)
{
    if (!std::filesystem::exists("/usr/share/zoneinfo/Australia/Lord_Howe"))
        GTEST_SKIP() << "no time zone data";
    ZoneGuard zone("Australia/Lord_Howe");

    struct tm tm = {};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 9; // 6 Oct 2024, 2:00 becomes 2:30
    tm.tm_mday = 6;
    tm.tm_hour = 1;
    tm.tm_isdst = -1;
    const time_t from = std::mktime(&tm);
    std::vector<std::string> lines;
    std::vector<time_t> times;
    for (time_t t = from; t < from + 3 * 3600; t += 7 * 60 + 3) {
        lines.push_back(Line(std::to_string(t), t, "GET /a.html HTTP/1.0"));
        times.push_back(t);
    }
    writeLog(lines);
    const std::string file = m_dir / "srv/logs/access.log";
    for (time_t t : times) {
        std::vector<LogRecord> inside, outside;
        ReadAccessLogFile(file, "/a.html", 1, t + 86400 - 1, inside);
        ReadAccessLogFile(file, "/a.html", 1, t + 86400, outside);
        // Exactly the line at t drops out of the window one second later.
        ASSERT_EQ(inside.size(), outside.size() + 1) << Stamp(t);
        EXPECT_EQ(inside.back().client, std::to_string(t)) << Stamp(t);
    }
}

// A 1 GB log (mostly a hole) is read without holding it in memory.
TEST_F(AccessLog, HugeLogIsNotLoadedWhole)
{
    const std::string file = m_dir / "srv/logs/access.log";
    const std::string head = Line("head", m_now - 60, "GET /a.html HTTP/1.0") + "\n";
    const std::string tail = "\n" + Line("tail", m_now - 30, "GET /a.html HTTP/1.0") + "\n";
    const uintmax_t size = uintmax_t(1) << 30;
    m_dir.write("srv/logs/access.log", head);
    std::filesystem::resize_file(file, size - tail.size());
    {
        std::ofstream(file, std::ios::binary | std::ios::app) << tail;
    }
    ASSERT_EQ(std::filesystem::file_size(file), size);

    struct rusage before, after;
    getrusage(RUSAGE_SELF, &before);
    std::vector<LogRecord> out;
    EXPECT_EQ(ReadAccessLogFile(file, "/a.html", 1, m_now, out), LogReadResult::Ok);
    getrusage(RUSAGE_SELF, &after);
    // The line of zero bytes has no date: it hides "head".
    EXPECT_EQ(Clients(out), (std::vector<std::string>{"tail"}));
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024); // kilobytes
}

TEST(ParseLogLine, Fields)
{
    using namespace std::string_literals;
    struct Case
    {
        std::string line;
        bool ok = false;
        std::string client = {}, time = {}, method = {}, path = {}, protocol = {}, status = {};
        bool timeValid = false;
    } cases[] = {
        {"1.2.3.4 - - [10/Oct/2000:13:55:36 -0700] \"GET /a.html HTTP/1.0\" 200 2326", true,
         "1.2.3.4", "10/Oct/2000:13:55:36", "GET", "/a.html", "HTTP/1.0\"", "200", true},
        {"h\t- - [10/Oct/2000:13:55:36 -0700] \"HEAD /a HTTP/1.1\" 304 0", true, "h",
         "10/Oct/2000:13:55:36", "HEAD", "/a", "HTTP/1.1\"", "304", true},
        // The quoted method wins over letters earlier in the path.
        {"h - - [10/Oct/2000:13:55:36 +0000] \"POST /GET/x HTTP/1.0\" 201 0", true, "h",
         "10/Oct/2000:13:55:36", "POST", "/GET/x", "HTTP/1.0\"", "201", true},
        // An unknown method falls back to searching, then to the first blank.
        {"h - - [10/Oct/2000:13:55:36 +0000] \"PUT /x/GET/y HTTP/1.0\" 201 0", true, "h",
         "10/Oct/2000:13:55:36", "GET", "/y", "HTTP/1.0\"", "201", true},
        {"h - - [10/Oct/2000:13:55:36 +0000] \"OPTIONS * HTTP/1.0\" 200 0", true, "h",
         "10/Oct/2000:13:55:36", "", "", "\"OPTIONS", "*", true},
        {"h - - [10/Oct/2000:13:55:36 +0000] GET /plain HTTP/1.0 200 0", true, "h",
         "10/Oct/2000:13:55:36", "GET", "/plain", "HTTP/1.0", "200", true},
        // A simple request has no protocol.
        {"h - - [10/Oct/2000:13:55:36 +0000] \"GET /a\" 200 0", true, "h",
         "10/Oct/2000:13:55:36", "GET", "/a", "\"", "200", true},
        // Long fields are cut.
        {std::string(300, 'c') + " [10/Oct/2000:13:55:36] \"GET /a " + std::string(40, 'p')
             + "\" 123456789 0",
         true, std::string(256, 'c'), "10/Oct/2000:13:55:36", "GET", "/a", std::string(32, 'p'),
         "1234567", true},
        // Times that are not well formed.
        {"h [10/Xyz/2000:13:55:36 +0000] \"GET /a HTTP/1.0\" 200", true, "h",
         "10/Xyz/2000:13:55:36", "GET", "/a", "HTTP/1.0\"", "200", false},
        {"h [10/oct/2000:13:55:36 +0000] \"GET /a HTTP/1.0\" 200", true, "h",
         "10/oct/2000:13:55:36", "GET", "/a", "HTTP/1.0\"", "200", false},
        {"h [30/Feb/2000:13:55:36] \"GET /a HTTP/1.0\" 200", true, "h", "30/Feb/2000:13:55:36",
         "GET", "/a", "HTTP/1.0\"", "200", false},
        {"h [29/Feb/2000:24:00:00] \"GET /a HTTP/1.0\" 200", true, "h", "29/Feb/2000:24:00:00",
         "GET", "/a", "HTTP/1.0\"", "200", false},
        {"h [1/Oct/2000:13:55:36 +0000] \"GET /a HTTP/1.0\" 200", true, "h",
         "1/Oct/2000:13:55:36 ", "GET", "/a", "HTTP/1.0\"", "200", false},
        {"h [x] \"GET /a HTTP/1.0\" 200", true, "h", "x", "GET", "/a", "HTTP/1.0\"", "200", false},
        {"h [] GET", true, "h", "", "GET", "", "", "", false},
        // NUL is an ordinary byte.
        {"h\0x - [10/Oct/2000:13:55:36 +0000] \"GET /a\0b HTTP/1.0\" 2\0 0"s, true, "h\0x"s,
         "10/Oct/2000:13:55:36", "GET", "/a\0b"s, "HTTP/1.0\"", "2\0"s, true},
        // No date: the reading stops here.
        {"", false},
        {"h - - 10/Oct/2000 \"GET /a HTTP/1.0\" 200", false},
        {"h - - [10/Oct/2000:13:55:36 \"GET /a HTTP/1.0\" 200", false},
        {"h ] [10/Oct/2000:13:55:36", false},
        {std::string(2000, 'x') + " [10/Oct/2000:13:55:36] \"GET /a\" 200", false}, // past 1024
    };
    for (const Case &c : cases) {
        LogLine out;
        EXPECT_EQ(ParseLogLine(c.line, out), c.ok) << c.line;
        if (!c.ok)
            continue;
        EXPECT_EQ(out.client, c.client) << c.line;
        EXPECT_EQ(out.time, c.time) << c.line;
        EXPECT_EQ(out.method, c.method) << c.line;
        EXPECT_EQ(out.path, c.path) << c.line;
        EXPECT_EQ(out.protocol, c.protocol) << c.line;
        EXPECT_EQ(out.status, c.status) << c.line;
        EXPECT_EQ(out.timeValid, c.timeValid) << c.line;
    }

    LogLine out;
    ASSERT_TRUE(ParseLogLine("h [29/Feb/2000:23:59:60 +0000] \"GET /\" 200", out));
    EXPECT_TRUE(out.timeValid);
    EXPECT_EQ((std::vector<int>{out.day, out.month, out.year, out.hour, out.minute, out.second}),
              (std::vector<int>{29, 2, 2000, 23, 59, 60}));
}

// Arbitrary bytes, weighted towards the characters the parser looks for:
// never a crash, fields within their limits, and "no date" exactly when the
// first 1024 bytes hold no "[" followed by "]".
TEST(ParseLogLine, AnyBytes)
{
    std::mt19937 rng(20240615);
    const std::string alphabet = std::string("[]\" \t\r\n/:GETHADPOS0123456789JanDec") + '\0' + '\xff';
    for (int i = 0; i < 20000; ++i) {
        std::string line(rng() % (i % 100 == 0 ? 5000 : 120), '\0');
        for (char &ch : line)
            ch = rng() % 4 == 0 ? static_cast<char>(rng()) : alphabet[rng() % alphabet.size()];
        LogLine out;
        bool ok = ParseLogLine(line, out);
        std::string_view head = std::string_view(line).substr(0, 1024);
        size_t open = head.find('[');
        EXPECT_EQ(ok, open != std::string_view::npos && head.find(']', open) != std::string_view::npos);
        EXPECT_LE(out.client.size(), 256u);
        EXPECT_LE(out.time.size(), 20u);
        EXPECT_LE(out.protocol.size(), 32u);
        EXPECT_LE(out.status.size(), 7u);
        EXPECT_LE(out.path.size(), 1024u);
        if (out.timeValid) {
            EXPECT_GE(out.month, 1);
            EXPECT_LE(out.month, 12);
        }
    }
}
