#pragma once

// Peers on 127.0.0.1 for the socket and HTTP tests.

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sylvix::test {

// A listening socket on 127.0.0.1 (any free port) that accepts when asked.
class LoopbackListener
{
public:
    LoopbackListener(); // throws std::runtime_error when it cannot listen
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
    ~ScriptServer();

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
        while (m_closed != m_accepted)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

private:
    void serve(int fd);
    void run();

    LoopbackListener m_listener;
    mutable std::mutex m_mutex;
    std::atomic<size_t> m_accepted = 0, m_closed = 0;
    std::deque<Reply> m_replies;
    Reply m_default{{"HTTP/1.0 200 OK\r\nContent-type: text/html\r\n\r\n<html></html>"}};
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

} // namespace sylvix::test
