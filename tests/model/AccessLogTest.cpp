#include "model/AccessLog.h"
#include "ModelFixture.h"

#include <sys/resource.h>

using namespace sylvix;
using namespace sylvix::test;

namespace {

using Names = std::vector<std::string>;

// As the server writes it ("C" locale month names).
std::string Stamp(time_t t)
{
    struct tm tm;
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%d/%b/%Y:%H:%M:%S", &tm);
    return buf;
}

std::string Line(const std::string &client, time_t t,
                 const std::string &request = "GET /a.html HTTP/1.0",
                 const std::string &status = "200")
{
    return client + " - - [" + Stamp(t) + " +0200] \"" + request + "\" " + status + " 512";
}

Names Clients(const std::vector<LogRecord> &records, bool withStatus = false)
{
    Names out;
    for (const LogRecord &r : records)
        out.push_back(withStatus ? r.client + ":" + r.status : r.client);
    return out;
}

// The server's log is <dir>/srv/logs/access.log; "now" is in mid-June, far
// from any daylight-saving change, so that local times convert both ways
// in every time zone.
class AccessLog : public ServerFixture
{
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        set("Logs", "LogDir", "logs");
        set("Logs", "TransferLog", "access.log");
    }

    void writeLog(const Names &lines)
    {
        std::string text;
        for (const std::string &line : lines)
            text += line + "\n";
        m_dir.write("srv/logs/access.log", text);
    }
    Names read(const char *path = "/a.html", int days = 1)
    {
        return Clients(ReadAccessLog(path, days, m_now));
    }

    const time_t m_now = LocalTime(2024, 6, 15, 12);
};

} // namespace

// Lines are filtered, not used to stop: an old line between recent ones
// hides nothing, but a line without a date ends the reading.
TEST_F(AccessLog, WhichLinesAreListed)
{
    const time_t t = m_now - 600, twoDays = m_now - 2 * 86400;
    const Names window = {Line("inside", twoDays + 1), Line("exact", twoDays),
                          Line("future", m_now + 3600)}; // clock skew: always recent
    const Names methods = {Line("get", t),
                           Line("upper", t + 1, "GET /A.html HTTP/1.0"),
                           Line("head", t + 2, "HEAD /a.html HTTP/1.0", "304"),
                           Line("query", t + 3, "GET /a.html?x=1 HTTP/1.0"),
                           Line("longer", t + 4, "GET /a.htmlx HTTP/1.0"),
                           Line("post", t + 5, "POST /a.html HTTP/1.0", "404"),
                           Line("tricky", t + 6, "POST /GET/a.html HTTP/1.0")};
    const std::tuple<Names, int, Names, const char *> cases[] = {
        {window, 3, {"future:200", "exact:200", "inside:200"}, "/a.html"},
        {window, 2, {"future:200", "inside:200"}, "/a.html"},
        {methods, 1, {"post:404", "head:304", "get:200"}, "/a.html"},
        {methods, 1, {"tricky:200"}, "/GET/a.html"},
        {{Line("oldest", t), "garbage without a date", Line("middle", t + 1),
          "bad - - [31/Jun/2024:11:00:00 +0000] \"GET /a.html HTTP/1.0\" 200 1",
          Line("newest", t + 2)},
         1,
         {"newest:200", "middle:200"},
         "/a.html"},
        {{Line("old", t), "", Line("new", t + 1)}, 1, {"new:200"}, "/a.html"}, // an empty line too
        {{Line("only", t)}, 1, {"only:200"}, "/a.html"},
        {{}, 1, {}, "/a.html"},
    };
    for (const auto &[lines, days, listed, path] : cases) {
        writeLog(lines);
        EXPECT_EQ(Clients(ReadAccessLog(path, days, m_now), true), listed) << lines.size();
    }
}

TEST_F(AccessLog, LocationFollowsTheLocalStore)
{
    const std::array<const char *, 4> cases[] = {
        {"c:\\srv", "logs", "access.log", "c:\\srv/logs/access.log"},
        {"/srv/", "logs/", "a", "/srv/logs/a"},
        {"/srv", "d:\\logs", "a", "d:\\logs/a"},
        {"/srv", "/var/log/norvane", "a", "/var/log/norvane/a"},
        {"", "logs", "a", "/logs/a"},
    };
    for (const auto &[root, dir, name, expected] : cases)
        EXPECT_EQ(AccessLogLocation(root, dir, name), expected) << root << " " << dir;

    EXPECT_EQ(read().size(), 0u); // the configured file is absent

    writeLog({Line("x", m_now - 60)});
    EXPECT_EQ(AccessLogPath(), m_dir / "srv/logs/access.log");
    EXPECT_EQ(read().size(), 1u);

    // The server's configuration on another machine does not move the log.
    auto remote = OpenSqliteStore(m_dir / "remote.db");
    WriteString(*remote->root()->createKey(std::string(kServerKeyPath) + "\\Logs"), "LogDir",
                "/nowhere");
    m_server.reset();
    UseStores(OpenSqliteStore(m_dir / "registry.db"), std::move(remote));
    EXPECT_EQ(read().size(), 1u);

    // No "TransferLog", no log; no store at all, nothing either.
    LocalStore()
        ->root()
        ->openKey(std::string(kServerKeyPath) + "\\Logs")
        ->deleteValue("TransferLog");
    EXPECT_EQ(AccessLogPath(), "");
    EXPECT_EQ(read().size(), 0u);
    CloseConfiguration();
    EXPECT_EQ(read().size(), 0u);
}

// Lines that straddle the reader's chunks, some longer than its line limit,
// after 1 GB of zero bytes (mostly a hole): one line without a date, where
// the reading ends, without the file being held in memory.
TEST_F(AccessLog, ManyLinesAcrossChunksAfterAHugeLine)
{
    std::string log;
    Names expected;
    const time_t t = m_now - 80000;
    for (int i = 0; i < 20000; ++i) {
        const std::string client = "c" + std::to_string(i) + std::string(size_t(i % 97), 'x');
        log += "\n" + Line(client, t + i, i % 3 ? "GET /b.html HTTP/1.0" : "GET /a.html HTTP/1.0");
        if (i % 5000 == 1)
            log += " " + std::string(300000, 'z'); // only the start of a line is read
        if (i % 3 == 0)
            expected.insert(expected.begin(), client);
    }
    const std::string file = m_dir.write("srv/logs/access.log", "");
    std::filesystem::resize_file(file, uintmax_t(1) << 30);
    std::ofstream(file, std::ios::binary | std::ios::app) << log;

    struct rusage before, after;
    getrusage(RUSAGE_SELF, &before);
    EXPECT_EQ(read(), expected);
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024); // kilobytes
}

// Hostile lines. Expected fields: client|time|method|path|protocol|status,
// then "+" when the time is well formed; empty when the line has no date.
TEST(ParseLogLine, Fields)
{
    using namespace std::string_literals;
    const std::string ok = "10/Oct/2000:13:55:36";
    const std::pair<std::string, std::string> cases[] = {
        {"h\t- - [10/Oct/2000:13:55:36 -0700] \"HEAD /a HTTP/1.1\" 304 0",
         "h|" + ok + "|HEAD|/a|HTTP/1.1\"|304|+"},
        // The quoted method wins over letters earlier in the path.
        {"h - - [10/Oct/2000:13:55:36 +0000] \"POST /GET/x HTTP/1.0\" 201 0",
         "h|" + ok + "|POST|/GET/x|HTTP/1.0\"|201|+"},
        // An unknown method falls back to searching, then to the first blank.
        {"h - - [10/Oct/2000:13:55:36 +0000] \"PUT /x/GET/y HTTP/1.0\" 201 0",
         "h|" + ok + "|GET|/y|HTTP/1.0\"|201|+"},
        {"h - - [10/Oct/2000:13:55:36 +0000] GET /plain HTTP/1.0 200 0",
         "h|" + ok + "|GET|/plain|HTTP/1.0|200|+"},
        {"h - - [10/Oct/2000:13:55:36 +0000] \"GET /a\" 200 0",
         "h|" + ok + "|GET|/a|\"|200|+"}, // no protocol
        // Long fields are cut.
        {std::string(300, 'c') + " [10/Oct/2000:13:55:36] \"GET /a " + std::string(40, 'p')
             + "\" 123456789 0",
         std::string(256, 'c') + "|" + ok + "|GET|/a|" + std::string(32, 'p') + "|1234567|+"},
        // Times that are not well formed.
        {"h [10/Xyz/2000:13:55:36 +0000] \"GET /a HTTP/1.0\" 200",
         "h|10/Xyz/2000:13:55:36|GET|/a|HTTP/1.0\"|200|"},
        {"h [30/Feb/2000:13:55:36] \"GET /a HTTP/1.0\" 200",
         "h|30/Feb/2000:13:55:36|GET|/a|HTTP/1.0\"|200|"},
        {"h [29/Feb/2000:23:59:60] \"GET /\" 200", "h|29/Feb/2000:23:59:60|GET|/|\"|200|+"},
        {"h [1/Oct/2000:13:55:36 +0000] \"GET /a HTTP/1.0\" 200",
         "h|1/Oct/2000:13:55:36 |GET|/a|HTTP/1.0\"|200|"},
        {"h\0x - [10/Oct/2000:13:55:36 +0000] \"GET /a\0b HTTP/1.0\" 2\0 0"s, // NUL is an ordinary byte
         "h\0x|"s + ok + "|GET|/a\0b|HTTP/1.0\"|2\0|+"s},
        // No date: the reading stops here.
        {"", ""},
        {"h - - 10/Oct/2000 \"GET /a HTTP/1.0\" 200", ""},
        {"h - - [10/Oct/2000:13:55:36 \"GET /a HTTP/1.0\" 200", ""},
        {std::string(2000, 'x') + " [10/Oct/2000:13:55:36] \"GET /a\" 200", ""}, // past 1024
    };
    for (const auto &[line, fields] : cases) {
        LogLine o;
        const bool parsed = ParseLogLine(line, o);
        EXPECT_EQ(parsed ? o.client + "|" + o.time + "|" + o.method + "|" + o.path + "|"
                               + o.protocol + "|" + o.status + "|" + (o.timeValid ? "+" : "")
                         : "",
                  fields)
            << line;
    }
}
