// Remote checks against scripted HTTP peers on loopback.

#include "ModelFixture.h"

#include "model/Events.h"
#include "model/Http.h"
#include "model/Notify.h"
#include "model/Resolve.h"
#include "model/Url.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

using namespace sylvix;
using namespace sylvix::test;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// What the peer does with one connection: read the request, send the
// pieces (pausing between them), then keep the connection open for holdMs
// or until the other side closes it, then close.
struct Reply
{
    std::vector<std::string> pieces;
    int pauseMs = 0;
    int holdMs = 0;
};

// A peer on 127.0.0.1 that answers one connection after another with
// scripted replies, and keeps the requests it got.
class ScriptServer
{
public:
    ScriptServer()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        EXPECT_EQ(::bind(m_listen, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(m_listen, 64), 0);
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&a), &len);
        m_port = ntohs(a.sin_port);
        EXPECT_EQ(::pipe2(m_wake, O_CLOEXEC), 0);
        m_thread = std::thread([this] { run(); });
    }
    ~ScriptServer()
    {
        m_stop = true;
        char c = 0;
        EXPECT_EQ(::write(m_wake[1], &c, 1), 1);
        m_thread.join();
        ::close(m_listen);
        ::close(m_wake[0]);
        ::close(m_wake[1]);
    }

    int port() const { return m_port; }
    std::string base() const { return "http://localhost:" + std::to_string(m_port); }

    void push(Reply r)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_replies.push_back(std::move(r));
    }
    void setDefault(Reply r)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_default = std::move(r);
    }
    std::vector<std::string> requests() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    size_t connections() const { return m_connections.load(); }

private:
    // Waits for fd to be readable; false when stopped or timed out.
    bool waitReadable(int fd, int ms)
    {
        pollfd p[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        return ::poll(p, 2, ms) > 0 && !(p[1].revents & POLLIN) && (p[0].revents & (POLLIN | POLLHUP));
    }
    bool pause(int ms)
    {
        pollfd p{m_wake[0], POLLIN, 0};
        return ::poll(&p, 1, ms) == 0;
    }

    void serve(int fd)
    {
        std::string request;
        char buf[4096];
        while (request.find("\r\n\r\n") == std::string::npos && waitReadable(fd, 2000)) {
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            request.append(buf, static_cast<size_t>(n));
        }
        Reply reply;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
            if (!m_replies.empty()) {
                reply = std::move(m_replies.front());
                m_replies.pop_front();
            } else {
                reply = m_default;
            }
        }
        for (size_t i = 0; i < reply.pieces.size(); ++i) {
            if (i > 0 && reply.pauseMs > 0 && !pause(reply.pauseMs))
                return;
            ::send(fd, reply.pieces[i].data(), reply.pieces[i].size(), MSG_NOSIGNAL);
        }
        if (reply.holdMs > 0) {
            // Until the other side gives up (end of data) or the time is up.
            while (waitReadable(fd, reply.holdMs))
                if (::recv(fd, buf, sizeof buf, 0) <= 0)
                    break;
        }
    }

    void run()
    {
        while (!m_stop) {
            if (!waitReadable(m_listen, 1000))
                continue;
            int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            ++m_connections;
            serve(fd);
            ::close(fd);
        }
    }

    int m_listen = -1;
    int m_port = 0;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_stop{false};
    std::atomic<size_t> m_connections{0};
    mutable std::mutex m_mutex;
    std::deque<Reply> m_replies;
    Reply m_default{{"HTTP/1.0 200 OK\r\nContent-type: text/html\r\n\r\n<html></html>"}};
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

const std::string kUserAgent = " HTTP/1.0\r\nUser-Agent: Kelto-Sylvix-Browser/1.0\r\n\r\n";

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

size_t countEntries(const std::string &dir)
{
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator(dir); it != std::filesystem::directory_iterator(); ++it)
        ++n;
    return n;
}

struct Prompt
{
    std::string text;
    std::string caption;
};

class HttpFetch : public ServerFixture
{
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        // This server is "localhost" on port 80; the peers listen on other
        // ports, so their URLs are external.
        WriteString(*m_server, "ServerName", "localhost");
        verifyExternal = true;
        m_tmp = m_dir / "tmp";
        std::filesystem::create_directories(m_tmp);
        const char *old = std::getenv("TMPDIR");
        m_oldTmp = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("TMPDIR", m_tmp.c_str(), 1);
        mainThread = std::this_thread::get_id();
        NotifyHooks hooks;
        hooks.status = [this](const std::string &t) { m_status.push_back(t); };
        hooks.askYesNo = [this](const std::string &t, const std::string &c) {
            m_questions.push_back({t, c});
            return m_answerYes;
        };
        hooks.errorBox = [this](const std::string &t, const std::string &c) { m_errors.push_back({t, c}); };
        InstallNotifyHooks(hooks);
    }
    void TearDown() override
    {
        for (SiteNode *n : m_nodes)
            FreeNode(n);
        InstallEventPump(nullptr);
        InstallNotifyHooks({});
        SetHostResolver(nullptr);
        SetNetworkTimeouts(15000, 10000, 10000);
        RequestCancel(0);
        mainThread.reset();
        if (m_oldTmp)
            ::setenv("TMPDIR", m_oldTmp->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        verifyExternal = false;
        ServerFixture::TearDown();
    }

    SiteNode *node(const std::string &url)
    {
        SiteNode *n = CreateNode();
        SetUrl(n, url, nullptr);
        m_nodes.push_back(n);
        return n;
    }

    // Cancels every wait that starts after delayMs from now, as a Stop
    // command handled inside the event loop would.
    void cancelAfter(int delayMs)
    {
        auto start = Clock::now();
        InstallEventPump([start, delayMs] {
            if (Clock::now() - start >= std::chrono::milliseconds(delayMs))
                RequestCancel(1);
        });
    }

    static const char *dnsQuestion()
    {
        return "Perhaps you are disconnected from the Net.\nGive up looking for external documents?";
    }

    std::string m_tmp;
    std::optional<std::string> m_oldTmp;
    std::vector<SiteNode *> m_nodes;
    std::vector<std::string> m_status;
    std::vector<Prompt> m_questions;
    std::vector<Prompt> m_errors;
    bool m_answerYes = false;
};

} // namespace

TEST_F(HttpFetch, SendsTheRequestAndKeepsTheAnswer)
{
    ScriptServer peer;
    struct Case
    {
        std::string path;
        const char *method;
        std::string requestLine;
    } cases[] = {
        {"/dir/page.html?q=1&r=2", nullptr, "GET /dir/page.html?q=1&r=2"},
        {"/a/b/", nullptr, "GET /a/b/"},
        {"/", nullptr, "GET /"},
        {"/cgi/form.sh", "POST", "POST /cgi/form.sh"},
        {"/x.html", "bad\r\nmethod", "GET /x.html"}, // never splits the request line
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        peer.push({{"HTTP/1.0 200 OK\r\n", "Content-type: text/html\r\nContent-Length: 13\r\n",
                    "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n<html></html>"}});
        SiteNode *n = node(peer.base() + c.path);
        if (c.method)
            n->method = SharedStr(c.method);
        size_t before = peer.requests().size();
        EXPECT_EQ(ResolveNode(n), 1);
        ASSERT_EQ(peer.requests().size(), before + 1);
        EXPECT_EQ(peer.requests().back(), c.requestLine + kUserAgent);

        EXPECT_EQ(n->flags & (EXTERNAL | BROKEN | NOTVER), EXTERNAL);
        EXPECT_EQ(n->kind, Html);
        EXPECT_EQ(n->mimeType.str(), "text/html");
        EXPECT_EQ(n->stat.size, 13);
        EXPECT_EQ(n->stat.mtime, ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"));
        ASSERT_TRUE(n->localPath);
        EXPECT_EQ(n->localPath.view().substr(0, m_tmp.size() + 3), m_tmp + "/sy");
        EXPECT_EQ(n->localPath.view().substr(n->localPath.size() - 5), ".html");
        EXPECT_EQ(slurp(n->localPath.str()), "<html></html>");
    }
    ASSERT_FALSE(m_status.empty());
    EXPECT_EQ(m_status.back(), "Connecting to localhost...");
    EXPECT_TRUE(m_questions.empty());
    EXPECT_TRUE(m_errors.empty());
}

TEST_F(HttpFetch, AnswersDecideTheOutcome)
{
    ScriptServer peer;
    const std::string filler(3000 - 8, 'x');
    // Exactly 2048 characters: the line ends there, and its line feed then
    // reads as an empty line, which ends the headers.
    const std::string full = "X-Full: " + std::string(2048 - 8, 'f');
    // A line cut after 2048 characters goes on as a line of its own.
    const std::string cut = "X-Cut: " + std::string(2048 - 7, 'c');
    struct Case
    {
        const char *name;
        std::vector<std::string> reply;
        uint32_t flags;              // of BROKEN and NOTVER
        std::optional<std::string> body; // nullopt: no file kept
        const char *type;
        uint32_t kind;
    } cases[] = {
        {"not found", {"HTTP/1.0 404 Not Found\r\nContent-type: text/html\r\n\r\n<h1>404</h1>"}, BROKEN,
         std::nullopt, "text/html", Unknown},
        {"server error", {"HTTP/1.1 500 Oops\r\n\r\n"}, BROKEN, std::nullopt, nullptr, Unknown},
        {"length 0 reads to the end", {"HTTP/1.0 200 OK\r\nContent-length: 0\r\n\r\n", "abc", "def"}, 0,
         "abcdef", nullptr, Unknown},
        {"length shorter than the body", {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n0123456789"}, 0, "01234",
         nullptr, Unknown},
        {"closed in the middle of the body", {"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n", "forty"}, 0,
         "forty", nullptr, Unknown},
        {"status line without a number",
         {"HTTP/1.0 OK\r\nHTTP/1.0 200 OK\r\nContent-type: text/plain\r\n\r\nplain"}, 0, "plain", "text/plain",
         TextDoc},
        {"status line without white space", {"HTTP/1.0\r\nHTTP/1.0 200 OK\r\n\r\nx"}, BROKEN, std::nullopt,
         nullptr, Unknown},
        {"nothing at all", {}, BROKEN, std::nullopt, nullptr, Unknown},
        {"bare line feeds", {"HTTP/1.0 200 OK\nContent-type: image/gif\n\nGIF89a"}, 0, "GIF89a", "image/gif",
         Image},
        {"3000-character header line",
         {"HTTP/1.0 200 OK\r\nX-Long: " + filler + "\r\nContent-type: text/plain\r\n\r\nafter"}, 0, "after",
         "text/plain", TextDoc},
        {"header read from the rest of a long line",
         {"HTTP/1.0 200 OK\r\n" + cut + "Content-type: image/gif\r\n\r\ngif"}, 0, "gif", "image/gif", Image},
        {"line of exactly 2048 characters",
         {"HTTP/1.0 200 OK\r\n" + full + "\r\nContent-type: image/gif\r\n\r\nbody"}, 0,
         "Content-type: image/gif\r\n\r\nbody", nullptr, Unknown},
        {"header names ignore case",
         {"HTTP/1.0 203 Partial\r\ncontent-TYPE:\timage/gif\r\nno colon here\r\nContent-length:\r\n\r\nGIF"}, 0,
         "GIF", "image/gif", Image},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        peer.push({c.reply});
        SiteNode *n = node(peer.base() + "/doc");
        EXPECT_EQ(ResolveNode(n), 1);
        EXPECT_EQ(n->flags & (BROKEN | NOTVER), c.flags);
        EXPECT_EQ(n->localPath.present(), c.body.has_value());
        if (c.body && n->localPath) {
            EXPECT_EQ(slurp(n->localPath.str()), *c.body);
        }
        EXPECT_EQ(n->mimeType.present(), c.type != nullptr);
        if (c.type) {
            EXPECT_EQ(n->mimeType.str(), c.type);
        }
        if (!(c.flags & BROKEN)) {
            EXPECT_EQ(n->kind, c.kind);
        }
    }
    EXPECT_TRUE(m_questions.empty());
}

TEST_F(HttpFetch, FollowsRedirects)
{
    ScriptServer a, b;
    // A full URL in "Location:" moves the node to the other server.
    a.push({{"HTTP/1.0 301 Moved\r\nLocation: " + b.base() + "/new/place.gif\r\n\r\n"}});
    b.push({{"HTTP/1.0 200 OK\r\nContent-type: image/gif\r\n\r\nGIF89a"}});
    SiteNode *n = node(a.base() + "/old/page.html?x=1");
    EXPECT_EQ(ResolveNode(n), 1);
    EXPECT_EQ(a.requests().back(), "GET /old/page.html?x=1" + kUserAgent);
    ASSERT_EQ(b.requests().size(), 1u);
    // The query is not part of what "Location:" replaces.
    EXPECT_EQ(b.requests().back(), "GET /new/place.gif?x=1" + kUserAgent);
    EXPECT_EQ(n->url.str(), b.base() + "/new/place.gif?x=1");
    EXPECT_EQ(n->kind, Image);
    EXPECT_EQ(slurp(n->localPath.str()), "GIF89a");

    // A path keeps scheme, host and port; "uri:" works as "location:".
    a.push({{"HTTP/1.0 302 Found\r\nURI: /moved/\r\n\r\n"}});
    a.push({{"HTTP/1.0 302 Found\r\nlocation: /moved/x.txt\r\n\r\n"}});
    a.push({{"HTTP/1.0 200 OK\r\nContent-type: text/plain\r\n\r\ntext"}});
    n = node(a.base() + "/a/b.txt");
    EXPECT_EQ(ResolveNode(n), 1);
    auto got = a.requests();
    ASSERT_GE(got.size(), 3u);
    EXPECT_EQ(got[got.size() - 2], "GET /moved/" + kUserAgent);
    EXPECT_EQ(got.back(), "GET /moved/x.txt" + kUserAgent);
    EXPECT_EQ(n->url.str(), a.base() + "/moved/x.txt");
    EXPECT_EQ(n->flags & (BROKEN | NOTVER), 0u);

    // "Redirect:" hands the node back to resolution, which finds b external.
    a.push({{"HTTP/1.0 200 OK\r\nRedirect: " + b.base() + "/r.html\r\nContent-type: text/html\r\n\r\n"}});
    b.push({{"HTTP/1.0 200 OK\r\nContent-type: text/html\r\n\r\n<p>r</p>"}});
    n = node(a.base() + "/go");
    EXPECT_EQ(ResolveNode(n), 1);
    EXPECT_EQ(b.requests().back(), "GET /r.html" + kUserAgent);
    EXPECT_EQ(n->url.str(), b.base() + "/r.html");
    EXPECT_EQ(slurp(n->localPath.str()), "<p>r</p>");
    EXPECT_EQ(n->flags & (EXTERNAL | BROKEN | NOTVER), EXTERNAL);

    // "Redirect:" to this server's own URL makes the node local again.
    a.push({{"HTTP/1.0 200 OK\r\nRedirect: http://localhost/index.html\r\n\r\n"}});
    doc("index.html");
    n = node(a.base() + "/home");
    EXPECT_EQ(ResolveNode(n), 1);
    EXPECT_EQ(n->flags & (EXTERNAL | BROKEN), 0u);
    EXPECT_EQ(n->localPath.str(), m_dir / "docs/index.html");
}

TEST_F(HttpFetch, EndlessRedirectsEndBroken)
{
    ScriptServer peer;
    struct Case
    {
        const char *name;
        std::string reply;
    } cases[] = {
        {"302 to itself", "HTTP/1.0 302 Found\r\nLocation: " + peer.base() + "/loop\r\n\r\n"},
        {"301 without a location", "HTTP/1.0 301 Moved\r\n\r\n"},
        {"Redirect: to itself", "HTTP/1.0 200 OK\r\nRedirect: " + peer.base() + "/loop\r\n\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        peer.setDefault({{c.reply}});
        size_t before = peer.requests().size();
        SiteNode *n = node(peer.base() + "/loop");
        EXPECT_EQ(ResolveNode(n), 1);
        EXPECT_TRUE(n->flags & BROKEN);
        // The first request and ten more.
        EXPECT_EQ(peer.requests().size() - before, static_cast<size_t>(kMaxHttpRedirects + 1));
    }
}

TEST_F(HttpFetch, TimeOuts)
{
    SetNetworkTimeouts(2000, 300, 2000);
    ScriptServer peer;
    struct Case
    {
        const char *name;
        Reply reply;
        uint32_t flags;
        std::optional<std::string> body;
    } cases[] = {
        {"silent peer", {{}, 0, 5000}, NOTVER, std::nullopt},
        {"stalls after the status line", {{"HTTP/1.0 200 OK\r\n"}, 0, 5000}, NOTVER, std::nullopt},
        {"stalls in a header line", {{"HTTP/1.0 200 OK\r\nContent-ty"}, 0, 5000}, NOTVER, std::nullopt},
        {"stalls in the body",
         {{"HTTP/1.0 200 OK\r\nContent-length: 50\r\n\r\n", "part"}, 0, 5000},
         0,
         "part"},
        {"slow but within the limit",
         {{"HTTP/1.0 200 OK\r\n", "Content-type: text/plain\r\n", "\r\n", "slow"}, 100, 0},
         0,
         "slow"},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        peer.push(c.reply);
        SiteNode *n = node(peer.base() + "/slow");
        auto start = Clock::now();
        EXPECT_EQ(ResolveNode(n), 1);
        EXPECT_LT(secondsSince(start), 3.0);
        EXPECT_EQ(n->flags & (BROKEN | NOTVER), c.flags);
        EXPECT_EQ(n->localPath.present(), c.body.has_value());
        if (c.body && n->localPath) {
            EXPECT_EQ(slurp(n->localPath.str()), *c.body);
        }
    }
    EXPECT_TRUE(m_questions.empty());
}

TEST_F(HttpFetch, CancelDuringLookup)
{
    // A lookup that hangs far longer than the test.
    SetHostResolver([](const std::string &, HostRecord &) {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        return EAI_AGAIN;
    });
    SiteNode *n = node("http://hangs.example:8080/x.html");
    const uint32_t flags = n->flags;
    cancelAfter(100);
    auto start = Clock::now();
    EXPECT_EQ(FetchOverHttp(n), 0);
    double took = secondsSince(start);
    std::printf("cancel during lookup returned after %.3f s (cancel at 0.100 s)\n", took);
    EXPECT_LT(took, 1.0);
    EXPECT_EQ(n->flags, flags);
    ASSERT_EQ(m_errors.size(), 1u);
    EXPECT_EQ(m_errors[0].text, "Connection to hangs.example canceled by user");
    EXPECT_EQ(m_errors[0].caption, "Connect Canceled");
    EXPECT_TRUE(m_questions.empty());
    EXPECT_TRUE(verifyExternal);
}

TEST_F(HttpFetch, CancelDuringReceive)
{
    ScriptServer peer;
    peer.push({{"HTTP/1.0 200 OK\r\n"}, 0, 5000}); // then nothing for 5 s
    SiteNode *n = node(peer.base() + "/wait");
    n->flags |= EXTERNAL;
    const uint32_t flags = n->flags;
    cancelAfter(100);
    auto start = Clock::now();
    EXPECT_EQ(FetchOverHttp(n), 0);
    double took = secondsSince(start);
    std::printf("cancel during receive returned after %.3f s (cancel at 0.100 s)\n", took);
    EXPECT_LT(took, 1.0);
    EXPECT_EQ(n->flags, flags);
    EXPECT_TRUE(m_errors.empty());
    EXPECT_TRUE(m_questions.empty());

    // A stop while the body comes keeps what arrived.
    InstallEventPump(nullptr);
    peer.push({{"HTTP/1.0 200 OK\r\n\r\n", "first part"}, 0, 5000});
    n = node(peer.base() + "/body");
    cancelAfter(500);
    EXPECT_EQ(ResolveNode(n), 1);
    EXPECT_EQ(n->flags & (BROKEN | NOTVER), 0u);
    ASSERT_TRUE(n->localPath);
    EXPECT_EQ(slurp(n->localPath.str()), "first part");
}

TEST_F(HttpFetch, LookupFailuresAskOnce)
{
    SetHostResolver([](const std::string &host, HostRecord &out) {
        if (host == "slow.example") {
            std::this_thread::sleep_for(std::chrono::seconds(2));
            return EAI_AGAIN;
        }
        if (host != "localhost")
            return EAI_NONAME;
        NetAddress a;
        auto *sin = reinterpret_cast<sockaddr_in *>(&a.storage);
        sin->sin_family = AF_INET;
        sin->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.length = sizeof *sin;
        out.name = host;
        out.addresses.push_back(a);
        return 0;
    });
    SetNetworkTimeouts(300, -1, -1);
    struct Case
    {
        const char *url;
    } cases[] = {
        {"http://no.such.host.example/"},
        {"http://slow.example/"},   // the lookup times out
        {"http://300.1.2.3:8080/"}, // reads as an address, but is none
        {"http://1.2.3.4.5:8080/"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url);
        m_questions.clear();
        SiteNode *n = node(c.url);
        EXPECT_EQ(ResolveNode(n), 1);
        EXPECT_EQ(n->flags & (EXTERNAL | NOTVER | BROKEN), EXTERNAL | NOTVER);
        ASSERT_EQ(m_questions.size(), 1u);
        EXPECT_EQ(m_questions[0].text, dnsQuestion());
        EXPECT_EQ(m_questions[0].caption, "DNS Problem");
        EXPECT_TRUE(verifyExternal); // answered No
    }

    // Yes turns checking off: later external links are only marked.
    m_answerYes = true;
    m_questions.clear();
    SiteNode *n = node("http://no.such.host.example/a.html");
    EXPECT_EQ(ResolveNode(n), 1);
    EXPECT_EQ(m_questions.size(), 1u);
    EXPECT_FALSE(verifyExternal);
    ScriptServer peer;
    n = node(peer.base() + "/b.html");
    EXPECT_EQ(ResolveNode(n), 1);
    EXPECT_TRUE(n->flags & NOTVER);
    EXPECT_EQ(m_questions.size(), 1u);
    EXPECT_EQ(peer.connections(), 0u);

    // Called directly with checking off, a failed lookup asks nothing.
    n = node("http://no.such.host.example/c.html");
    EXPECT_EQ(FetchOverHttp(n), 1);
    EXPECT_TRUE(n->flags & NOTVER);
    EXPECT_EQ(m_questions.size(), 1u);
}

TEST_F(HttpFetch, NumericHostsAndConnectFailures)
{
    ScriptServer peer;
    // A numeric host is looked up in reverse first (here through the hosts
    // file), then connected to.
    peer.push({{"HTTP/1.0 200 OK\r\nContent-type: text/plain\r\n\r\nnumeric"}});
    SiteNode *n = node("http://127.0.0.1:" + std::to_string(peer.port()) + "/n.txt");
    EXPECT_EQ(ResolveNode(n), 1);
    EXPECT_EQ(n->flags & (EXTERNAL | BROKEN | NOTVER), EXTERNAL);
    ASSERT_TRUE(n->localPath);
    EXPECT_EQ(slurp(n->localPath.str()), "numeric");
    EXPECT_EQ(peer.requests().back(), "GET /n.txt" + kUserAgent);

    // Nobody listening: not verified, and nobody is asked.
    int closedPort;
    {
        ScriptServer gone;
        closedPort = gone.port();
    }
    for (const std::string &url : {"http://localhost:" + std::to_string(closedPort) + "/",
                                   std::string("http://localhost:70000/")}) {
        SCOPED_TRACE(url);
        n = node(url);
        EXPECT_EQ(ResolveNode(n), 1);
        EXPECT_EQ(n->flags & (EXTERNAL | BROKEN | NOTVER), EXTERNAL | NOTVER);
    }
    EXPECT_TRUE(m_questions.empty());
    EXPECT_TRUE(m_errors.empty());
}

TEST_F(HttpFetch, ThousandChecksLeakNothing)
{
    ScriptServer peer;
    peer.setDefault({{"HTTP/1.0 200 OK\r\nContent-type: text/html\r\nContent-length: 20\r\n\r\n",
                      "<html>twenty</html>\n"}});
    auto fds = [] { return countEntries("/proc/self/fd"); };
    // One check first, so that lazily opened descriptors (resolver files,
    // the store) are already there.
    SiteNode *warm = CreateNode();
    SetUrl(warm, peer.base() + "/warm.html", nullptr);
    ASSERT_EQ(ResolveNode(warm), 1);
    FreeNode(warm);
    const size_t fdsBefore = fds();
    const size_t filesBefore = countEntries(m_tmp);

    auto start = Clock::now();
    constexpr int kChecks = 1000;
    int ok = 0;
    for (int i = 0; i < kChecks; ++i) {
        SiteNode *n = CreateNode();
        SetUrl(n, peer.base() + "/p" + std::to_string(i) + ".html", nullptr);
        if (ResolveNode(n) == 1 && !(n->flags & (BROKEN | NOTVER)) && n->localPath &&
            std::filesystem::file_size(n->localPath.str()) == 20)
            ++ok;
        FreeNode(n);
    }
    double took = secondsSince(start);
    std::printf("%d checks in %.2f s (%.2f ms each)\n", kChecks, took, took * 1000 / kChecks);
    EXPECT_EQ(ok, kChecks);
    EXPECT_EQ(fds(), fdsBefore);
    EXPECT_EQ(countEntries(m_tmp), filesBefore);
}
