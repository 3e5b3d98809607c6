// The answer reader against bytes from memory: line splitting, the ends a
// wait can have, and arbitrary input.

#include "ModelFixture.h"

#include "model/Http.h"
#include "model/HttpMemorySource.h"
#include "model/HttpReader.h"
#include "model/Url.h"

#include <cstdlib>
#include <cstring>
#include <random>

using namespace sylvix;
using namespace sylvix::test;

namespace {

struct LineCase
{
    const char *name;
    std::vector<std::string> pieces;
    int endStatus;
    std::vector<std::string> lines; // read until an empty line ends them
    std::vector<int> statuses;
};

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Private temporary directory for the files the reader makes.
class HttpReading : public ServerFixture
{
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        m_tmp = m_dir / "tmp";
        std::filesystem::create_directories(m_tmp);
        const char *old = std::getenv("TMPDIR");
        m_oldTmp = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("TMPDIR", m_tmp.c_str(), 1);
    }
    void TearDown() override
    {
        for (SiteNode *n : m_nodes)
            FreeNode(n);
        if (m_oldTmp)
            ::setenv("TMPDIR", m_oldTmp->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        ServerFixture::TearDown();
    }
    SiteNode *node()
    {
        SiteNode *n = CreateNode();
        SetUrl(n, "http://remote.example:8080/dir/doc", nullptr);
        n->flags |= EXTERNAL;
        m_nodes.push_back(n);
        return n;
    }
    std::string m_tmp;
    std::optional<std::string> m_oldTmp;
    std::vector<SiteNode *> m_nodes;
};

// Gives zeros for ever.
class EndlessSource : public HttpSource
{
public:
    explicit EndlessSource(std::string head) : m_head(std::move(head)) {}
    size_t receive(char *buffer, size_t length, int &status) override
    {
        status = WaitDone;
        if (m_pos < m_head.size()) {
            size_t n = std::min(length, m_head.size() - m_pos);
            std::memcpy(buffer, m_head.data() + m_pos, n);
            m_pos += n;
            return n;
        }
        std::memset(buffer, 'z', length);
        m_given += length;
        return length;
    }
    uint64_t m_given = 0;

private:
    std::string m_head;
    size_t m_pos = 0;
};

} // namespace

TEST(HttpLineReader, SplitsLinesAsSent)
{
    const std::string a2048(2048, 'a');
    const std::string b10(10, 'b');
    LineCase cases[] = {
        {"CR LF and LF", {"one\r\ntwo\nthree\r\n\r\n"}, WaitDone, {"one", "two", "three"}, {0, 0, 0}},
        {"pieces split anywhere", {"o", "ne\r", "\n", "t", "wo\n\n"}, WaitDone, {"one", "two"}, {0, 0}},
        {"carriage returns inside a line are dropped", {"a\rb\r\r\n\n"}, WaitDone, {"ab"}, {0}},
        {"end of data ends a line", {"last"}, WaitDone, {"last"}, {0}},
        {"a long line goes on as the next", {a2048 + b10 + "\n\n"}, WaitDone, {a2048, b10}, {0, 0}},
        {"the line feed after 2048 characters is an empty line", {a2048 + "\nnext\n"}, WaitDone, {a2048}, {0}},
        {"carriage returns do not count", {std::string(2047, 'a') + "\r\r\rab\n\n"}, WaitDone,
         {std::string(2047, 'a') + "a", "b"}, {0, 0}},
        {"a time-out ends the line with its status", {"partial"}, WaitTimedOut, {"partial"}, {WaitTimedOut}},
        {"a cancel likewise", {"line\n", "x"}, WaitCancelled, {"line", "x"}, {0, WaitCancelled}},
    };
    for (const LineCase &c : cases) {
        SCOPED_TRACE(c.name);
        HttpMemorySource source(c.pieces, c.endStatus);
        HttpReader reader(source);
        std::vector<std::string> lines;
        std::vector<int> statuses;
        for (int guard = 0; guard < 100; ++guard) {
            int status = -1;
            std::string line = reader.readLine(status);
            if (line.empty() && status == WaitDone)
                break;
            lines.push_back(line);
            statuses.push_back(status);
            if (status != WaitDone)
                break;
        }
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(statuses, c.statuses);
    }
}

TEST_F(HttpReading, WaitEndsInHeadersAndBody)
{
    struct Case
    {
        const char *name;
        std::vector<std::string> pieces;
        int endStatus;
        HttpAnswer answer;
        uint32_t flags;
        std::optional<std::string> body;
    } cases[] = {
        {"cancelled in the status line", {"HTTP/1.0 2"}, WaitCancelled, AnswerStopped, 0, std::nullopt},
        {"cancelled in the headers", {"HTTP/1.0 200 OK\r\nContent-type: te"}, WaitCancelled, AnswerStopped, 0,
         std::nullopt},
        {"timed out in the headers", {"HTTP/1.0 200 OK\r\n"}, WaitTimedOut, AnswerDone, NOTVER, std::nullopt},
        {"network error reads as the end", {"HTTP/1.0 200 OK\r\n"}, WaitNetError, AnswerDone, 0, ""},
        {"cancelled in the body", {"HTTP/1.0 200 OK\r\n\r\nsome", " more"}, WaitCancelled, AnswerDone, 0,
         "some more"},
        {"timed out in the body", {"HTTP/1.0 200 OK\r\n\r\nsome"}, WaitTimedOut, AnswerDone, 0, "some"},
        {"moved", {"HTTP/1.0 302 Found\r\nLocation: /elsewhere/x\r\n\r\n"}, WaitDone, AnswerFollow, 0,
         std::nullopt},
        {"redirected", {"HTTP/1.0 200 OK\r\nRedirect: http://a.example/\r\n\r\nbody"}, WaitDone, AnswerRedirect, 0,
         std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SiteNode *n = node();
        HttpMemorySource source(c.pieces, c.endStatus);
        HttpReader reader(source);
        EXPECT_EQ(reader.readAnswer(n), c.answer);
        EXPECT_EQ(n->flags & (BROKEN | NOTVER), c.flags);
        EXPECT_EQ(n->localPath.present(), c.body.has_value());
        if (c.body && n->localPath) {
            EXPECT_EQ(slurp(n->localPath.str()), *c.body);
        }
    }
}

TEST_F(HttpReading, HeadersSetTheNode)
{
    SiteNode *n = node();
    n->query = SharedStr("old=1");
    HttpMemorySource source({"HTTP/1.0 200 OK\r\n"
                             "Content-type: image/gif\r\n"
                             "Last-modified: Sunday, 06-Nov-94 08:49:37 GMT\r\n"
                             "Content-length: 7\r\n"
                             "Location: http://other.example:81/x/y.gif\r\n"
                             "\r\n"
                             "GIF89a!extra"});
    HttpReader reader(source);
    EXPECT_EQ(reader.readAnswer(n), AnswerDone);
    EXPECT_EQ(reader.statusNumber(), 200);
    EXPECT_EQ(n->mimeType.str(), "image/gif");
    EXPECT_EQ(n->kind, Image);
    EXPECT_EQ(n->stat.mtime, ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"));
    EXPECT_EQ(n->stat.size, 7);
    EXPECT_EQ(n->url.str(), "http://other.example:81/x/y.gif?old=1");
    ASSERT_TRUE(n->localPath);
    EXPECT_EQ(n->localPath.view().substr(n->localPath.size() - 4), ".gif");
    EXPECT_EQ(slurp(n->localPath.str()), "GIF89a!");

    // Without a length the size is what arrived.
    n = node();
    HttpMemorySource plain({"HTTP/1.0 200 OK\r\n\r\n", "abc", "de"});
    HttpReader plainReader(plain);
    EXPECT_EQ(plainReader.readAnswer(n), AnswerDone);
    EXPECT_EQ(n->stat.size, 5);
    EXPECT_EQ(n->kind, Unknown);
    ASSERT_TRUE(n->localPath);
    EXPECT_EQ(std::filesystem::path(n->localPath.str()).filename().string().find('.'),
              std::string::npos); // no type, no extension
}

TEST_F(HttpReading, BodyAndHeadersAreBounded)
{
    SiteNode *n = node();
    EndlessSource endless("HTTP/1.0 200 OK\r\n\r\n");
    HttpReader reader(endless);
    EXPECT_EQ(reader.readAnswer(n), AnswerDone);
    EXPECT_EQ(reader.bodyBytes(), HttpReader::kMaxBody);
    EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(n->localPath.str())), HttpReader::kMaxBody);
    DeleteTempFile(n->localPath.str());

    // A length above the bound is cut to it as well.
    n = node();
    EndlessSource big("HTTP/1.0 200 OK\r\nContent-length: 999999999999\r\n\r\n");
    HttpReader bigReader(big);
    EXPECT_EQ(bigReader.readAnswer(n), AnswerDone);
    EXPECT_EQ(bigReader.bodyBytes(), HttpReader::kMaxBody);
    EXPECT_EQ(n->stat.size, 999999999999LL);
    DeleteTempFile(n->localPath.str());

    // Headers that never end.
    n = node();
    EndlessSource headers("HTTP/1.0 200 OK\r\nX-Endless: ");
    HttpReader headerReader(headers);
    EXPECT_EQ(headerReader.readAnswer(n), AnswerDone);
    EXPECT_TRUE(n->flags & NOTVER);
    EXPECT_FALSE(n->localPath);
    EXPECT_LE(headers.m_given, HttpReader::kMaxHeaderBytes + 8192);
}

TEST_F(HttpReading, ArbitraryBytesNeverBreakIt)
{
    std::mt19937 rng(12345);
    const char *const fragments[] = {"HTTP/1.0 ", "200", "301", "302", "404", " OK", "\r\n", "\n", "\r",
                                     "Content-type:", "Content-length:", "Last-modified:", "Location:",
                                     "uri:", " ", "\t", ":", "text/html", "-5", "99999999999999999999",
                                     "Sun, 06 Nov 1994 08:49:37 GMT", "http://h.example:1/", "/p/", "?q",
                                     "#f", "%", "\0", "\xff"};
    for (int round = 0; round < 2000; ++round) {
        std::string data;
        int parts = std::uniform_int_distribution<int>(0, 30)(rng);
        for (int i = 0; i < parts; ++i) {
            if (rng() % 3 == 0) {
                int len = std::uniform_int_distribution<int>(0, rng() % 10 == 0 ? 3000 : 20)(rng);
                for (int k = 0; k < len; ++k)
                    data.push_back(static_cast<char>(rng() & 0xff));
            } else {
                data += fragments[rng() % std::size(fragments)];
            }
        }
        // Cut into random pieces.
        std::vector<std::string> pieces;
        for (size_t at = 0; at < data.size();) {
            size_t len = std::min<size_t>(data.size() - at, 1 + rng() % 50);
            pieces.push_back(data.substr(at, len));
            at += len;
        }
        const int endStatus = static_cast<int>(rng() % 4);
        SiteNode *n = CreateNode();
        SetUrl(n, "http://remote.example:8080/dir/doc", nullptr);
        n->flags |= EXTERNAL;
        HttpMemorySource source(pieces, endStatus);
        HttpReader reader(source);
        HttpAnswer answer = reader.readAnswer(n);
        ASSERT_GE(static_cast<int>(answer), AnswerStopped);
        ASSERT_LE(static_cast<int>(answer), AnswerRedirect);
        if (n->localPath) {
            ASSERT_EQ(answer, AnswerDone);
            ASSERT_GE(reader.statusNumber(), 200);
            ASSERT_LE(reader.statusNumber(), 299);
            ASSERT_LE(std::filesystem::file_size(n->localPath.str()), data.size());
            ASSERT_EQ(static_cast<int64_t>(std::filesystem::file_size(n->localPath.str())), reader.bodyBytes());
        }
        if (answer == AnswerStopped) {
            ASSERT_EQ(endStatus, WaitCancelled);
        }
        FreeNode(n); // deletes its temporary file
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_tmp), std::filesystem::directory_iterator()),
              0);
}
