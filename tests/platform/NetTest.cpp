// The socket layer on loopback: lookups, connect, send, receive, and the
// time and cancel bounds of every wait.

#include "platform/Net.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

using namespace sylvix;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// A listening socket on 127.0.0.1 that accepts when asked.
class Listener
{
public:
    Listener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(m_fd, 8), 0);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~Listener() { ::close(m_fd); }
    int port() const { return m_port; }
    int accept() { return ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC); }

private:
    int m_fd;
    int m_port = 0;
};

NetAddress loopback()
{
    NetAddress a;
    auto *sin = reinterpret_cast<sockaddr_in *>(&a.storage);
    sin->sin_family = AF_INET;
    sin->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.length = sizeof *sin;
    return a;
}

// A pump that cancels once afterMs have passed, counting its calls.
struct CancelAfter
{
    explicit CancelAfter(int afterMs) : start(Clock::now()), after(afterMs) {}
    bool operator()()
    {
        ++calls;
        return Clock::now() - start >= std::chrono::milliseconds(after);
    }
    Clock::time_point start;
    int after;
    int calls = 0;
};

class Net : public ::testing::Test
{
protected:
    void TearDown() override
    {
        SetNetworkTimeouts(15000, 10000, 10000);
        SetHostResolver(nullptr);
    }
};

} // namespace

TEST_F(Net, LooksUpLoopbackBothWays)
{
    int status = -1;
    auto byName = NetLookupByName("localhost", nullptr, status);
    ASSERT_EQ(status, NetDone);
    ASSERT_TRUE(byName);
    ASSERT_FALSE(byName->addresses.empty());
    EXPECT_EQ(byName->addresses.front().text(), "127.0.0.1"); // IPv4 first

    in_addr addr;
    ASSERT_EQ(::inet_pton(AF_INET, "127.0.0.1", &addr), 1);
    auto byAddress = NetLookupByAddress(&addr, sizeof addr, AF_INET, nullptr, status);
    ASSERT_EQ(status, NetDone);
    ASSERT_TRUE(byAddress);
    EXPECT_EQ(byAddress->name, "localhost");
    ASSERT_EQ(byAddress->addresses.size(), 1u);
    EXPECT_EQ(byAddress->addresses[0].text(), "127.0.0.1");

    // Wrong sizes are refused without a lookup.
    EXPECT_FALSE(NetLookupByAddress(&addr, 3, AF_INET, nullptr, status));
    EXPECT_EQ(status, NetCannotStart);
}

TEST_F(Net, LookupEndsByItsLimitOrByCancel)
{
    auto released = std::make_shared<std::atomic<bool>>(false);
    SetHostResolver([released](const std::string &host, HostRecord &out) {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        out.name = host;
        out.addresses.push_back(loopback());
        *released = true;
        return 0;
    });
    SetNetworkTimeouts(200, -1, -1);
    int status = -1;
    auto start = Clock::now();
    EXPECT_FALSE(NetLookupByName("slow.example", nullptr, status));
    EXPECT_EQ(status, NetTimedOut);
    EXPECT_LT(secondsSince(start), 0.7);

    SetNetworkTimeouts(15000, -1, -1);
    CancelAfter pump(100);
    start = Clock::now();
    EXPECT_FALSE(NetLookupByName("slow.example", std::ref(pump), status));
    EXPECT_EQ(status, NetCancelled);
    EXPECT_LT(secondsSince(start), 0.7);
    EXPECT_GT(pump.calls, 1);

    // The abandoned lookups finish later on their own.
    for (int i = 0; i < 100 && !*released; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(*released);

    // A resolver that fails is a network error.
    SetHostResolver([](const std::string &, HostRecord &) { return EAI_NONAME; });
    EXPECT_FALSE(NetLookupByName("x.example", nullptr, status));
    EXPECT_EQ(status, NetError);
}

TEST_F(Net, ConnectSendReceive)
{
    Listener listener;
    int status = -1;
    int fd = NetConnect(loopback(), listener.port(), nullptr, status);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(status, NetDone);
    int peer = listener.accept();
    ASSERT_GE(peer, 0);

    // More than the socket buffers hold, so sending has to wait for the reader.
    const std::string big(8 * 1024 * 1024, 'q');
    std::string got;
    std::thread reader([&] {
        char buf[65536];
        ssize_t n;
        while (got.size() < big.size() && (n = ::recv(peer, buf, sizeof buf, 0)) > 0)
            got.append(buf, static_cast<size_t>(n));
    });
    EXPECT_TRUE(NetSendAll(fd, big.data(), big.size(), nullptr, status));
    EXPECT_EQ(status, NetDone);
    reader.join();
    EXPECT_EQ(got.size(), big.size());

    ASSERT_EQ(::send(peer, "hello", 5, 0), 5);
    char buf[16];
    EXPECT_EQ(NetReceive(fd, buf, sizeof buf, 0, nullptr, status), 5u);
    EXPECT_EQ(status, NetDone);
    EXPECT_EQ(std::string(buf, 5), "hello");

    // Nothing comes: the receive limit ends the wait.
    SetNetworkTimeouts(-1, 200, -1);
    auto start = Clock::now();
    EXPECT_EQ(NetReceive(fd, buf, sizeof buf, 0, nullptr, status), 0u);
    EXPECT_EQ(status, NetTimedOut);
    EXPECT_LT(secondsSince(start), 1.0);

    // A cancel ends it long before the limit.
    SetNetworkTimeouts(-1, 10000, -1);
    CancelAfter pump(100);
    start = Clock::now();
    EXPECT_EQ(NetReceive(fd, buf, sizeof buf, 0, std::ref(pump), status), 0u);
    EXPECT_EQ(status, NetCancelled);
    double took = secondsSince(start);
    std::printf("receive cancelled after %.3f s (cancel at 0.100 s)\n", took);
    EXPECT_LT(took, 0.5);

    // The other side closes: end of data, without waiting.
    ::close(peer);
    start = Clock::now();
    EXPECT_EQ(NetReceive(fd, buf, sizeof buf, 0, nullptr, status), 0u);
    EXPECT_EQ(status, NetDone);
    EXPECT_LT(secondsSince(start), 1.0);
    NetClose(fd);
}

TEST_F(Net, ConnectFailures)
{
    int port;
    {
        Listener gone;
        port = gone.port();
    }
    int status = -1;
    EXPECT_EQ(NetConnect(loopback(), port, nullptr, status), -1);
    EXPECT_EQ(status, NetError);
    for (int bad : {0, -1, 65536}) {
        EXPECT_EQ(NetConnect(loopback(), bad, nullptr, status), -1);
        EXPECT_EQ(status, NetError);
    }
    NetAddress none; // no family
    EXPECT_EQ(NetConnect(none, 80, nullptr, status), -1);
    EXPECT_EQ(status, NetError);
}
