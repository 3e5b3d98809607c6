// Temporary files for fetched documents, and the dates of HTTP headers.

#include "ModelFixture.h"

#include "model/Http.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

using namespace sylvix;
using namespace sylvix::test;

namespace {

// Sets an environment variable for one scope.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const char *value) : m_name(name)
    {
        const char *old = std::getenv(name);
        if (old)
            m_old = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            ::setenv(m_name.c_str(), m_old->c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// "sy<n><ext>" in dir: n, or -1 when path is not of that form.
long numberOf(const std::string &path, const std::string &dir, const std::string &ext)
{
    std::string prefix = dir + "/sy";
    if (path.compare(0, prefix.size(), prefix) != 0 || path.size() < prefix.size() + ext.size() + 1 ||
        path.compare(path.size() - ext.size(), ext.size(), ext) != 0)
        return -1;
    std::string digits = path.substr(prefix.size(), path.size() - prefix.size() - ext.size());
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::stol(digits);
}

bool exists(const std::string &p) { return std::filesystem::exists(p); }

} // namespace

TEST(HttpTempFiles, NamesCountUpAndSkipTakenOnes)
{
    TempDir dir;
    ScopedEnv tmp("TMPDIR", (dir.path() + "/").c_str()); // a trailing "/" is not doubled

    std::string first = MakeTempName(".html");
    long n = numberOf(first, dir.path(), ".html");
    ASSERT_GE(n, 0) << first;
    struct stat st;
    ASSERT_EQ(::stat(first.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 0);

    // Names held by somebody else are skipped and left alone.
    const std::string taken1 = dir.write("sy" + std::to_string(n + 1) + ".gif", "theirs");
    const std::string taken2 = dir.write("sy" + std::to_string(n + 2) + ".gif", "theirs too");
    std::string gif = MakeTempName(".gif");
    EXPECT_EQ(numberOf(gif, dir.path(), ".gif"), n + 3);
    EXPECT_EQ(numberOf(MakeTempName(""), dir.path(), ""), n + 4);
    // An extension that would leave the directory is not used.
    EXPECT_EQ(numberOf(MakeTempName("/../../evil"), dir.path(), ""), n + 5);

    // Only our own files are deleted.
    DeleteTempFile(first);
    EXPECT_FALSE(exists(first));
    DeleteTempFile(first);
    DeleteTempFile(taken1);
    EXPECT_TRUE(exists(taken1));
    const std::string other = dir.write("unrelated.txt", "keep");
    DeleteTempFile(other);
    EXPECT_TRUE(exists(other));

    DeleteAllTempFiles();
    EXPECT_FALSE(exists(gif));
    EXPECT_TRUE(exists(taken1));
    EXPECT_TRUE(exists(taken2));
    EXPECT_TRUE(exists(other));
}

TEST(HttpTempFiles, DirectoryFromTheEnvironment)
{
    {
        ScopedEnv tmp("TMPDIR", nullptr);
        std::string p = MakeTempName(".x");
        EXPECT_GE(numberOf(p, "/tmp", ".x"), 0) << p;
        EXPECT_TRUE(exists(p));
        DeleteTempFile(p);
        EXPECT_FALSE(exists(p));
    }
    {
        TempDir dir;
        ScopedEnv tmp("TMPDIR", (dir.path() + "/missing").c_str());
        EXPECT_EQ(MakeTempName(".x"), "");
        std::string path = "unchanged";
        EXPECT_EQ(OpenTempFile(".x", path), -1);
        EXPECT_EQ(path, "");
    }
}

// Run as a child process by the next test: leaves its files to the exit.
TEST(HttpTempFiles, ChildLeavesFiles)
{
    const char *dir = std::getenv("SYLVIX_TEMPFILE_CHILD");
    if (!dir)
        GTEST_SKIP() << "runs as a child of DeletedAtExit";
    for (const char *ext : {".html", ".gif", ""})
        ASSERT_TRUE(exists(MakeTempName(ext)));
    std::ofstream(std::string(dir) + "/child-ran") << "3";
}

TEST(HttpTempFiles, DeletedAtExit)
{
    TempDir dir;
    char exe[4096];
    ssize_t len = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(len, 0);
    exe[len] = 0;
    // Everything the child needs is made before the fork.
    std::vector<std::string> env = {"TMPDIR=" + dir.path(), "SYLVIX_TEMPFILE_CHILD=" + dir.path()};
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "TMPDIR=", 7) != 0)
            env.push_back(*e);
    std::vector<char *> envp;
    for (std::string &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string filter = "--gtest_filter=HttpTempFiles.ChildLeavesFiles";
    char *argv[] = {exe, filter.data(), nullptr};
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, 1);
        ::execve(exe, argv, envp.data());
        ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::vector<std::string> left;
    for (const auto &e : std::filesystem::directory_iterator(dir.path()))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"child-ran"});
}

TEST(HttpDate, ThreeFormsAsLocalTime)
{
    // A zone with summer time, given by rule so that no zone files are needed.
    ScopedEnv tz("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    ::tzset();
    auto utc = [](int y, int mo, int d, int h, int mi, int s) {
        struct tm t = {};
        t.tm_year = y - 1900;
        t.tm_mon = mo - 1;
        t.tm_mday = d;
        t.tm_hour = h;
        t.tm_min = mi;
        t.tm_sec = s;
        return ::timegm(&t);
    };
    const time_t nov6 = utc(1994, 11, 6, 8, 49, 37) - 3600;  // winter: one hour ahead of UTC
    const time_t jul6 = utc(2021, 7, 6, 23, 59, 59) - 7200;  // summer: two hours
    const time_t jan1900 = utc(1900, 1, 1, 0, 0, 0) - 3600; // nothing fits
    struct Case
    {
        const char *text;
        time_t expected;
    } cases[] = {
        {"Sunday, 06-Nov-94 08:49:37 GMT", nov6},
        {"Sun, 06 Nov 1994 08:49:37 GMT", nov6},
        {"Sun Nov  6 08:49:37 1994", nov6},
        {"Sun, 06-Nov-1994 08:49:37 GMT", nov6},   // first form, four-digit year
        {"sun, 06 NOVEMBER 1994 08:49:37 +0500", nov6}, // month by three letters; zone not used
        {"  Sun,\t06 nov 1994 08:49:37", nov6},
        {"Tue, 06 Jul 2021 23:59:59 GMT", jul6},
        {"Sun, 06 Nov 1994 32:49:37 GMT", utc(1994, 11, 7, 8, 49, 37) - 3600}, // fields carry over
        {"Sunday, 06-Xyz-94 08:49:37 GMT", jan1900},
        {"Sun, 06 Nov 1994 08:49 GMT", jan1900},
        {"Sun, 06 Nov 1994", jan1900},
        {"Sun,06-Nov-94", jan1900},
        {"Sun, 06 No 1994 08:49:37 GMT", jan1900},
        {"", jan1900},
        {"garbage", jan1900},
        {nullptr, jan1900},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(none)");
        EXPECT_EQ(ParseHttpDate(c.text), c.expected);
    }
    // Numbers too large for the calendar neither crash nor pass for a date
    // they are not.
    EXPECT_NE(ParseHttpDate("Sun, 99999999999999999999 Nov 99999999999999 08:49:37 GMT"), nov6);
}
