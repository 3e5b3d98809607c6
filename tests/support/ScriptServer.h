#pragma once

// Peers on 127.0.0.1 for the socket and HTTP tests.

#include <condition_variable>
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
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener &) = delete;
    LoopbackListener &operator=(const LoopbackListener &) = delete;

    int port() const { return m_port; }
    int accept(); // the connected socket, or -1 once shutDown() was called
    void shutDown();

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
    ScriptServer();
    ~ScriptServer();

    int port() const { return m_listener.port(); }
    std::string base() const { return "http://localhost:" + std::to_string(port()); }
    void push(Reply r);
    void setDefault(Reply r);
    std::vector<std::string> requests() const;
    size_t connections() const;
    // Waits until every accepted connection is closed again, so that the
    // descriptors the process holds are the client's alone.
    void waitIdle();

private:
    void serve(int fd);
    void run();

    LoopbackListener m_listener;
    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    size_t m_accepted = 0, m_closed = 0;
    std::deque<Reply> m_replies;
    Reply m_default{{"HTTP/1.0 200 OK\r\nContent-type: text/html\r\n\r\n<html></html>"}};
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

} // namespace sylvix::test
