#include "tests/support/ScriptServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>

#include <chrono>
#include <stdexcept>

namespace sylvix::test {

LoopbackListener::LoopbackListener() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0
        || ::listen(m_fd, 64) != 0
        || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        if (m_fd >= 0)
            ::close(m_fd);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    m_port = ntohs(a.sin_port);
}

static bool readable(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

ScriptServer::~ScriptServer()
{
    m_listener.shutDown();
    m_thread.join();
}

void ScriptServer::serve(int fd)
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
    while (reply.holdMs > 0 && readable(fd, reply.holdMs) && ::recv(fd, buf, sizeof buf, 0) > 0) {
    }
}

void ScriptServer::run()
{
    for (int fd; (fd = m_listener.accept()) >= 0;) {
        ++m_accepted;
        serve(fd);
        ::close(fd);
        ++m_closed;
    }
}

} // namespace sylvix::test
