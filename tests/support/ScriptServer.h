#pragma once

// Peers on 127.0.0.1 for the socket and HTTP tests.

#include "tests/support/Wait.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace sylvix::test {

// A listening socket on 127.0.0.1 (any free port) that accepts when asked.
class LoopbackListener
{
public:
    LoopbackListener() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0
            || ::listen(m_fd, 64) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
            if (m_fd >= 0)
                ::close(m_fd); // no destructor runs for a constructor that throws
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        m_port = ntohs(a.sin_port);
    }
    ~LoopbackListener() { ::close(m_fd); }
    LoopbackListener(const LoopbackListener &) = delete;
    LoopbackListener &operator=(const LoopbackListener &) = delete;

    int port() const { return m_port; }
    // The connected socket, or -1 once shutDown() was called.
    int accept() { return ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC); }
    void shutDown() { ::shutdown(m_fd, SHUT_RDWR); } // wakes a waiting accept

private:
    int m_fd = -1;
    int m_port = 0;
};

// What the peer does with one connection: read the request, send the
// pieces (pausing between them), then keep the connection open for holdMs
// or until the other side closes it, then close.
struct Reply
{
    std::vector<std::string> pieces;
    int pauseMs = 0;
    int holdMs = 0;
};

// Answers one connection after another, on its own thread, with the queued
// replies (then with the default one), and keeps the requests it got.
class ScriptServer
{
public:
    ScriptServer() : m_thread([this] { run(); }) {}
    ~ScriptServer()
    {
        m_listener.shutDown();
        m_thread.join();
    }

    int port() const { return m_listener.port(); }
    std::string base() const { return "http://localhost:" + std::to_string(port()); }
    void push(Reply r)
    {
        std::lock_guard lock(m_mutex);
        m_replies.push_back(std::move(r));
    }
    void setDefault(Reply r)
    {
        std::lock_guard lock(m_mutex);
        m_default = std::move(r);
    }
    std::vector<std::string> requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    size_t connections() const { return m_accepted; }
    // Waits until every accepted connection is closed again, so that the
    // descriptors the process holds are the client's alone.
    void waitIdle()
    {
        eventually([this] { return m_closed == m_accepted; }, 60);
    }

private:
    static bool readable(int fd, int ms)
    {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, ms) > 0;
    }

    void serve(int fd)
    {
        std::string request;
        char buf[4096];
        ssize_t n;
        while (request.find("\r\n\r\n") == std::string::npos && readable(fd, 2000)
               && (n = ::recv(fd, buf, sizeof buf, 0)) > 0)
            request.append(buf, static_cast<size_t>(n));
        Reply reply;
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
            reply = m_replies.empty() ? m_default : m_replies.front();
            if (!m_replies.empty())
                m_replies.pop_front();
        }
        for (size_t i = 0; i < reply.pieces.size(); ++i) {
            if (i > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(reply.pauseMs));
            if (::send(fd, reply.pieces[i].data(), reply.pieces[i].size(), MSG_NOSIGNAL) < 0)
                return; // the other side has gone
        }
        // Until the other side gives up (end of data) or the time is up.
        while (reply.holdMs > 0 && readable(fd, reply.holdMs)
               && ::recv(fd, buf, sizeof buf, 0) > 0) {
        }
    }

    void run()
    {
        for (int fd; (fd = m_listener.accept()) >= 0;) {
            ++m_accepted;
            serve(fd);
            ::close(fd);
            ++m_closed;
        }
    }

    LoopbackListener m_listener;
    mutable std::mutex m_mutex;
    std::atomic<size_t> m_accepted = 0, m_closed = 0;
    std::deque<Reply> m_replies;
    Reply m_default{{"HTTP/1.0 200 OK\r\nContent-type: text/html\r\n\r\n<html></html>"}};
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

} // namespace sylvix::test
