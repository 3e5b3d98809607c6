// sylvix-map checks external links against a real web server: nginx, started
// here on free loopback ports, serves the site's external neighbour.

#include "model/Config.h"
#include "platform/ConfigStore.h"
#include "tests/support/RunTool.h"
#include "tests/support/ScriptServer.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace sylvix;

namespace {

int freePort()
{
    return test::LoopbackListener().port();
}

bool accepts(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

void write(const std::string &path, const std::string &text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

class NginxMap : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char *nginx = "/usr/sbin/nginx";
        if (::access(nginx, X_OK) != 0)
            GTEST_SKIP() << "nginx is not installed (make test installs nginx-light)";
        m_localPort = freePort();
        m_farPort = freePort();
        std::ostringstream conf;
        conf << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << m_dir
             << "/nginx.pid;\n"
             << "error_log " << m_dir << "/error.log;\nevents { worker_connections 64; }\n"
             << "http {\n access_log off;\n default_type application/octet-stream;\n"
             << " types { text/html html; image/gif gif; }\n"
             << " client_body_temp_path " << m_dir << "/tmp;\n proxy_temp_path " << m_dir
             << "/tmp;\n"
             << " fastcgi_temp_path " << m_dir << "/tmp;\n uwsgi_temp_path " << m_dir << "/tmp;\n"
             << " scgi_temp_path " << m_dir << "/tmp;\n"
             << " server { listen 127.0.0.1:" << m_localPort << "; root " << m_dir << "/site; }\n"
             << " server { listen 127.0.0.1:" << m_farPort << "; root " << m_dir << "/far; }\n}\n";
        write(m_dir + "/nginx.conf", conf.str());
        std::filesystem::create_directories(m_dir + "/tmp");

        m_pid = ::fork();
        if (m_pid == 0) {
            ::execl(nginx, nginx, "-p", m_dir.c_str(), "-e", (m_dir + "/error.log").c_str(), "-c",
                    (m_dir + "/nginx.conf").c_str(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!(accepts(m_localPort) && accepts(m_farPort))
               && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(accepts(m_farPort)) << "nginx did not start";
    }

    void TearDown() override
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    test::TempDir m_tmp;
    const std::string m_dir = m_tmp.path();
    int m_localPort = 0, m_farPort = 0;
    pid_t m_pid = -1;
};

} // namespace

TEST_F(NginxMap, ExternalLinksAreCheckedParsedAndMarked)
{
    const std::string far = "http://localhost:" + std::to_string(m_farPort);
    write(m_dir + "/site/index.html", "<title>Home</title><a href=\"" + far
                                          + "/good.html\">good</a> <a href=\"" + far
                                          + "/gone.html\">gone</a> <a href=\"" + far
                                          + "/dir\">moved</a> <a href=\"local.html\">local</a>");
    write(m_dir + "/site/local.html", "<p>here</p>");
    write(m_dir + "/far/good.html",
          "<title>Far good</title><a href=\"deeper.html\">deeper</a>"
          "<img src=\"pic.gif\" alt=\"pic\"><a href=\"/nothing.html\">x</a>");
    write(m_dir + "/far/deeper.html", "<title>Deeper</title>");
    write(m_dir + "/far/pic.gif", "GIF89a");
    write(m_dir + "/far/dir/index.html", "<title>Directory index</title>");

    std::string store = m_dir + "/registry.db";
    {
        auto s = OpenSqliteStore(store);
        ASSERT_TRUE(s);
        auto server = s->root()->createKey(kServerKeyPath);
        WriteString(*server, "ServerName", "localhost");
        WriteDword(*server, "TCP Port", static_cast<uint32_t>(m_localPort));
        WriteString(*server->createKey("DocMap"), "/", m_dir + "/site");
        WriteString(*server->createKey("DirIndex"), "IndexDoc", "index.html");
        auto types = server->createKey("TypeMap");
        WriteString(*types, ".html", "text/html");
        WriteString(*types, ".gif", "image/gif");
        WriteDword(*s->root()->createKey(kProgramKeyPath), "OutBound", 0); // the switch turns it on
    }
    const test::ToolRun map = test::runTool(
        SYLVIX_MAP_PATH, {"--depth", "3", "-q", "--check-external", "--format", "csv"},
        {{"TMPDIR", m_dir + "/tmp"}, {"NORVANE_REGISTRY", store}});
    const std::string &out = map.out;
    EXPECT_EQ(map.status, 1) << out << map.err; // broken links found

    auto line = [&](const std::string &url) {
        size_t at = out.find("," + url + ",");
        if (at == std::string::npos)
            return std::string();
        size_t start = out.rfind('\n', at);
        start = start == std::string::npos ? 0 : start + 1;
        return out.substr(start, out.find('\n', at) - start);
    };
    std::string good = line(far + "/good.html");
    EXPECT_NE(good.find(",HTML,EXTERNAL,"), std::string::npos) << out;
    EXPECT_NE(good.find("Far good"), std::string::npos) << good; // parsed: its title
    EXPECT_NE(line(far + "/deeper.html").find("Deeper"), std::string::npos) << out; // and expanded
    EXPECT_NE(line(far + "/pic.gif").find(",Image,EXTERNAL|INLINED,"), std::string::npos) << out;
    EXPECT_NE(line(far + "/gone.html").find("BROKEN|EXTERNAL"), std::string::npos) << out;
    EXPECT_NE(line(far + "/nothing.html").find("BROKEN|EXTERNAL"), std::string::npos) << out;
    // nginx answers /dir with a redirect to /dir/ on its own address, which is followed.
    EXPECT_NE(
        line("http://127.0.0.1:" + std::to_string(m_farPort) + "/dir/").find("Directory index"),
        std::string::npos)
        << out;
    EXPECT_NE(
        line("http://localhost:" + std::to_string(m_localPort) + "/local.html").find(",HTML,,"),
        std::string::npos)
        << out;
    // The fetched documents' temporary files are gone when the tool ends.
    size_t left = 0;
    for (auto &e : std::filesystem::directory_iterator(m_dir + "/tmp"))
        left += e.path().filename().string().rfind("sy", 0) == 0;
    EXPECT_EQ(left, 0u);
}
