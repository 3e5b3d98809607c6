// The answer reader against bytes from memory: line splitting, the ends a
// wait can have, and arbitrary input; the temporary files for what it keeps,
// and the dates of HTTP headers.

#include "ModelFixture.h"
#include "tests/support/RunTool.h"

#include "model/HttpReader.h"
#include "model/testing/HttpMemorySource.h"

#include <unistd.h>

#include <csignal>
#include <cstring>

using namespace sylvix;
using namespace sylvix::test;
using std::filesystem::exists;

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
    // Type, kind, size, URL, the kept file's extension and its content.
    static std::string kept(SiteNode *n)
    {
        const std::filesystem::path file = n->localPath.str();
        return n->mimeType.str() + " " + KindDisplayText(n->kind) + " "
               + std::to_string(n->stat.size) + " " + n->url.str() + " " + file.extension().string()
               + " '" + readFile(file) + "'";
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

// Lines are read until an empty one; each is shown with "@status" when its
// wait did not end well.
TEST(HttpLineReader, SplitsLinesAsSent)
{
    const std::string a2048(2048, 'a'), b10(10, 'b');
    const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
        {{"o", "ne\r", "\n", "t", "wo\n\n"}, WaitDone, "one|two"},
        {{"a\rb\r\r\n\n"}, WaitDone, "ab"}, // carriage returns inside a line are dropped
        {{a2048 + b10 + "\n\n"}, WaitDone, a2048 + "|" + b10}, // a long line goes on as the next
        {{a2048 + "\nnext\n"}, WaitDone, a2048}, // so the line feed after it is an empty line
        {{"line\n", "x"}, WaitCancelled, "line|x@" + std::to_string(WaitCancelled)},
    };
    for (const auto &[pieces, endStatus, expected] : cases) {
        HttpMemorySource source(pieces, endStatus);
        HttpReader reader(source);
        std::string lines;
        for (int status = WaitDone, n = 0; status == WaitDone && n < 100; ++n) {
            std::string line = reader.readLine(status);
            if (line.empty() && status == WaitDone)
                break;
            lines += (n ? "|" : "") + line + (status ? "@" + std::to_string(status) : "");
        }
        EXPECT_EQ(lines, expected) << pieces[0].substr(0, 20);
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
    EXPECT_EQ(n->stat.mtime, ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"));
    EXPECT_EQ(kept(n), "image/gif Image 7 http://other.example:81/x/y.gif?old=1 .gif 'GIF89a!'");
}

TEST_F(HttpReading, BodyAndHeadersAreBounded)
{
    SiteNode *n = node();
    EndlessSource body("HTTP/1.0 200 OK\r\n\r\n");
    EXPECT_EQ(HttpReader(body).readAnswer(n), AnswerDone);
    ASSERT_TRUE(n->localPath);
    EXPECT_EQ(n->stat.size, HttpReader::kMaxBody);
    EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(n->localPath.str())),
              HttpReader::kMaxBody);

    n = node();
    EndlessSource headers("HTTP/1.0 200 OK\r\nX-Endless: ");
    EXPECT_EQ(HttpReader(headers).readAnswer(n), AnswerDone);
    EXPECT_TRUE((n->flags & NOTVER) && !n->localPath);
    EXPECT_LE(headers.m_given, HttpReader::kMaxHeaderBytes + 8192);
}

TEST(HttpTempFiles, NamesAreCreatedExclusivelyAndOnlyOursDeleted)
{
    TempDir dir;
    ScopedEnv tmp("TMPDIR", (dir.path() + "/").c_str()); // a trailing "/" is not doubled
    const std::string first = MakeTempName(".html"), prefix = dir.path() + "/sy";
    ASSERT_EQ(first.rfind(prefix, 0), 0u) << first;
    const long n = std::stol(first.substr(prefix.size()));
    const auto name = [&](long k, const char *ext) { return prefix + std::to_string(k) + ext; };
    ASSERT_EQ(first, name(n, ".html"));
    EXPECT_EQ(std::filesystem::status(first).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    // Names held by somebody else are skipped and left alone.
    const std::string taken1 = dir.write("sy" + std::to_string(n + 1) + ".gif", "theirs");
    const std::string taken2 = dir.write("sy" + std::to_string(n + 2) + ".gif", "theirs too");
    const std::string gif = MakeTempName(".gif");
    EXPECT_EQ(gif, name(n + 3, ".gif"));
    EXPECT_EQ(MakeTempName(""), name(n + 4, ""));
    EXPECT_EQ(MakeTempName("/../../evil"), name(n + 5, "")); // would leave the directory

    DeleteTempFile(first);
    EXPECT_FALSE(exists(first));
    const std::string other = dir.write("unrelated.txt", "keep");
    DeleteTempFile(taken1);
    DeleteTempFile(other);
    DeleteAllTempFiles();
    EXPECT_FALSE(exists(gif));
    EXPECT_TRUE(exists(taken1) && exists(taken2) && exists(other));

    // A TMPDIR that is missing: no file at all.
    ScopedEnv missing("TMPDIR", (dir.path() + "/missing").c_str());
    EXPECT_EQ(MakeTempName(".x"), "");
}

// Run as a child process by the next test: leaves its files to the exit,
// or to the signal named in SYLVIX_TEMPFILE_SIGNAL.
TEST(HttpTempFiles, ChildLeavesFiles)
{
    const char *dir = std::getenv("SYLVIX_TEMPFILE_CHILD");
    if (!dir)
        GTEST_SKIP() << "runs as a child of DeletedAtExitAndOnSignals";
    for (const char *ext : {".html", ".gif", ""})
        ASSERT_TRUE(exists(MakeTempName(ext)));
    std::ofstream(std::string(dir) + "/child-ran") << "3";
    const int sig = std::atoi(std::getenv("SYLVIX_TEMPFILE_SIGNAL"));
    if (sig == SIGPIPE) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        ::close(fds[0]);
        (void)::write(fds[1], "x", 1); // as a writer whose reader has gone
    } else if (sig != 0) {
        ::kill(::getpid(), sig);
    }
}

TEST(HttpTempFiles, DeletedAtExitAndOnSignals)
{
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
    for (int sig : {0, SIGTERM, SIGHUP, SIGPIPE}) {
        SCOPED_TRACE(sig);
        TempDir dir;
        const ToolRun child = runTool(exe, {"--gtest_filter=HttpTempFiles.ChildLeavesFiles"},
                                      {{"TMPDIR", dir.path()},
                                       {"SYLVIX_TEMPFILE_CHILD", dir.path()},
                                       {"SYLVIX_TEMPFILE_SIGNAL", std::to_string(sig)}});
        EXPECT_EQ(child.status, sig == 0 ? 0 : -1) << child.out;
        std::vector<std::string> left;
        for (const auto &e : std::filesystem::directory_iterator(dir.path()))
            left.push_back(e.path().filename().string());
        EXPECT_EQ(left, std::vector<std::string>{"child-ran"});
    }
}

TEST(HttpDate, ThreeFormsAsLocalTime)
{
    // A zone with summer time, given by rule so that no zone files are needed.
    ScopedEnv tz("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    ::tzset();
    const time_t nov6 = LocalTime(1994, 11, 6, 8, 49, 37);
    const time_t jan1900 = LocalTime(1900, 1, 1, 0); // nothing fits
    const std::pair<const char *, time_t> cases[] = {
        {"Sunday, 06-Nov-94 08:49:37 GMT", nov6},
        {"Sun, 06 Nov 1994 08:49:37 GMT", nov6},
        {"Sun Nov  6 08:49:37 1994", nov6},
        {"Sun, 06-Nov-1994 08:49:37 GMT", nov6},        // first form, four-digit year
        {"sun, 06 NOVEMBER 1994 08:49:37 +0500", nov6}, // month by three letters; zone not used
        {"Tue, 06 Jul 2021 23:59:59 GMT", LocalTime(2021, 7, 6, 23, 59, 59)}, // summer time
        {"Sunday, 06-Xyz-94 08:49:37 GMT", jan1900},
        {"Sun, 06 Nov 1994 08:49 GMT", jan1900},
        {"", jan1900},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(ParseHttpDate(text), expected) << text;
}
