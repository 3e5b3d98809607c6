// Temporary files for fetched documents, and the dates of HTTP headers.

#include "ModelFixture.h"
#include "tests/support/RunTool.h"
#include "tests/support/ScopedEnv.h"

#include "model/Http.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <ctime>

using namespace sylvix;
using namespace sylvix::test;

namespace {

// "sy<n><ext>" in dir: n, or -1 when path is not of that form.
long numberOf(const std::string &path, const std::string &dir, const std::string &ext)
{
    const std::string prefix = dir + "/sy";
    if (path.rfind(prefix, 0) != 0 || path.size() < prefix.size() + ext.size() + 1
        || path.compare(path.size() - ext.size(), ext.size(), ext) != 0)
        return -1;
    std::string digits = path.substr(prefix.size(), path.size() - prefix.size() - ext.size());
    return digits.find_first_not_of("0123456789") == std::string::npos ? std::stol(digits) : -1;
}

bool exists(const std::string &p)
{
    return std::filesystem::exists(p);
}

} // namespace

TEST(HttpTempFiles, NamesAreCreatedExclusivelyAndOnlyOursDeleted)
{
    TempDir dir;
    ScopedEnv tmp("TMPDIR", (dir.path() + "/").c_str()); // a trailing "/" is not doubled
    const std::string first = MakeTempName(".html");
    const long n = numberOf(first, dir.path(), ".html");
    ASSERT_GE(n, 0) << first;
    struct stat st;
    ASSERT_EQ(::stat(first.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 0);

    // Names held by somebody else are skipped and left alone.
    const std::string taken1 = dir.write("sy" + std::to_string(n + 1) + ".gif", "theirs");
    const std::string taken2 = dir.write("sy" + std::to_string(n + 2) + ".gif", "theirs too");
    const std::string gif = MakeTempName(".gif");
    EXPECT_EQ(numberOf(gif, dir.path(), ".gif"), n + 3);
    EXPECT_EQ(numberOf(MakeTempName(""), dir.path(), ""), n + 4);
    EXPECT_EQ(numberOf(MakeTempName("/../../evil"), dir.path(), ""),
              n + 5); // would leave the directory

    DeleteTempFile(first);
    EXPECT_FALSE(exists(first));
    DeleteTempFile(first);
    const std::string other = dir.write("unrelated.txt", "keep");
    DeleteTempFile(taken1);
    DeleteTempFile(other);
    DeleteAllTempFiles();
    EXPECT_FALSE(exists(gif));
    EXPECT_TRUE(exists(taken1) && exists(taken2) && exists(other));

    // No TMPDIR: /tmp; a missing one: no file at all.
    {
        ScopedEnv unset("TMPDIR", nullptr);
        const std::string p = MakeTempName(".x");
        EXPECT_GE(numberOf(p, "/tmp", ".x"), 0) << p;
        DeleteTempFile(p);
        EXPECT_FALSE(exists(p));
    }
    ScopedEnv missing("TMPDIR", (dir.path() + "/missing").c_str());
    EXPECT_EQ(MakeTempName(".x"), "");
    std::string path = "unchanged";
    EXPECT_EQ(OpenTempFile(".x", path), -1);
    EXPECT_EQ(path, "");
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
    auto local = [](int y, int mo, int d, int h, int mi, int s, int zoneHours) {
        struct tm t = {};
        t.tm_year = y - 1900;
        t.tm_mon = mo - 1;
        t.tm_mday = d;
        t.tm_hour = h;
        t.tm_min = mi;
        t.tm_sec = s;
        return ::timegm(&t) - zoneHours * 3600;
    };
    const time_t nov6 = local(1994, 11, 6, 8, 49, 37, 1); // winter: one hour ahead of UTC
    const time_t jan1900 = local(1900, 1, 1, 0, 0, 0, 1); // nothing fits
    const struct
    {
        const char *text;
        time_t expected;
    } cases[] = {
        {"Sunday, 06-Nov-94 08:49:37 GMT", nov6},
        {"Sun, 06 Nov 1994 08:49:37 GMT", nov6},
        {"Sun Nov  6 08:49:37 1994", nov6},
        {"Sun, 06-Nov-1994 08:49:37 GMT", nov6},        // first form, four-digit year
        {"sun, 06 NOVEMBER 1994 08:49:37 +0500", nov6}, // month by three letters; zone not used
        {"  Sun,\t06 nov 1994 08:49:37", nov6},
        {"Tue, 06 Jul 2021 23:59:59 GMT", local(2021, 7, 6, 23, 59, 59, 2)}, // summer: two hours
        {"Sun, 06 Nov 1994 32:49:37 GMT", local(1994, 11, 7, 8, 49, 37, 1)}, // fields carry over
        {"Sunday, 06-Xyz-94 08:49:37 GMT", jan1900},
        {"Sun, 06 Nov 1994 08:49 GMT", jan1900},
        {"Sun, 06 Nov 1994", jan1900},
        {"Sun,06-Nov-94", jan1900},
        {"Sun, 06 No 1994 08:49:37 GMT", jan1900},
        {"", jan1900},
        {"garbage", jan1900},
        {nullptr, jan1900},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ParseHttpDate(c.text), c.expected) << (c.text ? c.text : "(none)");
    // Numbers too large for the calendar neither crash nor pass for a date
    // they are not.
    EXPECT_NE(ParseHttpDate("Sun, 99999999999999999999 Nov 99999999999999 08:49:37 GMT"), nov6);
}
