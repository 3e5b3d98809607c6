// The answer reader against bytes from memory: line splitting, the ends a
// wait can have, and arbitrary input.

#include "ModelFixture.h"

#include "model/Http.h"
#include "model/HttpReader.h"
#include "model/Url.h"
#include "model/testing/HttpMemorySource.h"

#include <cstdlib>
#include <cstring>

using namespace sylvix;
using namespace sylvix::test;

namespace {

class HttpReading : public HttpFixture
{
protected:
    SiteNode *node()
    {
        SiteNode *n = HttpFixture::node("http://remote.example:8080/dir/doc");
        n->flags |= EXTERNAL;
        return n;
    }
};

// Gives head, then 'z' for ever.
class EndlessSource : public HttpSource
{
public:
    explicit EndlessSource(std::string head) : m_head(std::move(head)) {}
    size_t receive(char *buffer, size_t length, int &status) override
    {
        status = WaitDone;
        size_t n = std::min(length, m_head.size() - m_pos);
        std::memcpy(buffer, m_head.data() + m_pos, n);
        m_pos += n;
        if (n == 0) {
            std::memset(buffer, 'z', length);
            m_given += length;
        }
        return n ? n : length;
    }
    uint64_t m_given = 0;

private:
    std::string m_head;
    size_t m_pos = 0;
};

} // namespace

TEST(HttpLineReader, SplitsLinesAsSent)
{
    const std::string a2047(2047, 'a'), a2048(2048, 'a'), b10(10, 'b');
    // The pieces received, how the data ends, then the lines read until an
    // empty one, and the status each came with.
    const struct
    {
        const char *name;
        std::vector<std::string> pieces;
        int endStatus;
        std::vector<std::string> lines;
        std::vector<int> statuses;
    } cases[] = {
        {"CR LF and LF",
         {"one\r\ntwo\nthree\r\n\r\n"},
         WaitDone,
         {"one", "two", "three"},
         {0, 0, 0}},
        {"pieces split anywhere",
         {"o", "ne\r", "\n", "t", "wo\n\n"},
         WaitDone,
         {"one", "two"},
         {0, 0}},
        {"carriage returns inside a line are dropped", {"a\rb\r\r\n\n"}, WaitDone, {"ab"}, {0}},
        {"end of data ends a line", {"last"}, WaitDone, {"last"}, {0}},
        {"a long line goes on as the next", {a2048 + b10 + "\n\n"}, WaitDone, {a2048, b10}, {0, 0}},
        {"the line feed after 2048 characters is an empty line",
         {a2048 + "\nnext\n"},
         WaitDone,
         {a2048},
         {0}},
        {"carriage returns do not count",
         {a2047 + "\r\r\rab\n\n"},
         WaitDone,
         {a2047 + "a", "b"},
         {0, 0}},
        {"a time-out ends the line with its status",
         {"partial"},
         WaitTimedOut,
         {"partial"},
         {WaitTimedOut}},
        {"a cancel likewise", {"line\n", "x"}, WaitCancelled, {"line", "x"}, {0, WaitCancelled}},
    };
    for (const auto &c : cases) {
        HttpMemorySource source(c.pieces, c.endStatus);
        HttpReader reader(source);
        std::vector<std::string> lines;
        std::vector<int> statuses;
        for (int status = WaitDone; status == WaitDone && lines.size() < 100;) {
            std::string line = reader.readLine(status);
            if (line.empty() && status == WaitDone)
                break;
            lines.push_back(line);
            statuses.push_back(status);
        }
        EXPECT_EQ(lines, c.lines) << c.name;
        EXPECT_EQ(statuses, c.statuses) << c.name;
    }
}

TEST_F(HttpReading, HeadersSetTheNode)
{
    SiteNode *n = node();
    n->setQuery(SharedStr("old=1"));
    HttpMemorySource source(
        {"HTTP/1.0 200 OK\r\nContent-type: image/gif\r\n"
         "Last-modified: Sunday, 06-Nov-94 08:49:37 GMT\r\nContent-length: 7\r\n"
         "Location: http://other.example:81/x/y.gif\r\n\r\nGIF89a!extra"});
    HttpReader reader(source);
    EXPECT_EQ(reader.readAnswer(n), AnswerDone);
    EXPECT_EQ(reader.statusNumber(), 200);
    EXPECT_EQ(n->mimeType.str(), "image/gif");
    EXPECT_EQ(n->kind, Image);
    EXPECT_EQ(n->stat.mtime, ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"));
    EXPECT_EQ(n->stat.size, 7);
    EXPECT_EQ(n->url.str(), "http://other.example:81/x/y.gif?old=1");
    ASSERT_TRUE(n->localPath);
    EXPECT_EQ(std::filesystem::path(n->localPath.str()).extension().string(), ".gif");
    EXPECT_EQ(readFile(n->localPath.str()), "GIF89a!");

    // Without a length the size is what arrived; no type, no extension. A
    // network error reads as the end of data.
    n = node();
    HttpMemorySource plain({"HTTP/1.0 200 OK\r\n\r\n", "abc", "de"}, WaitNetError);
    EXPECT_EQ(HttpReader(plain).readAnswer(n), AnswerDone);
    EXPECT_EQ(n->stat.size, 5);
    EXPECT_EQ(n->kind, Unknown);
    ASSERT_TRUE(n->localPath);
    EXPECT_EQ(readFile(n->localPath.str()), "abcde");
    EXPECT_EQ(std::filesystem::path(n->localPath.str()).filename().string().find('.'),
              std::string::npos);
}

TEST_F(HttpReading, BodyAndHeadersAreBounded)
{
    const struct
    {
        const char *head;
        int64_t size;
        bool kept;
    } cases[] = {
        {"HTTP/1.0 200 OK\r\n\r\n", HttpReader::kMaxBody, true},
        {"HTTP/1.0 200 OK\r\nContent-length: 999999999999\r\n\r\n", 999999999999LL,
         true},                                       // cut as well
        {"HTTP/1.0 200 OK\r\nX-Endless: ", 0, false}, // headers that never end
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.head);
        SiteNode *n = node();
        EndlessSource endless(c.head);
        HttpReader reader(endless);
        EXPECT_EQ(reader.readAnswer(n), AnswerDone);
        ASSERT_EQ(n->localPath.present(), c.kept);
        if (c.kept) {
            EXPECT_EQ(n->stat.size, c.size);
            EXPECT_EQ(reader.bodyBytes(), HttpReader::kMaxBody);
            EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(n->localPath.str())),
                      HttpReader::kMaxBody);
            DeleteTempFile(n->localPath.str());
        } else {
            EXPECT_TRUE(n->flags & NOTVER);
            EXPECT_LE(endless.m_given, HttpReader::kMaxHeaderBytes + 8192);
        }
    }
}
