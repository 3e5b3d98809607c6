// The socket layer on loopback: lookups, connect, send, receive. (The time
// and cancel bounds of the waits are checked through HTTP in HttpFetchTest.)

#include "platform/Net.h"
#include "tests/support/ScriptServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <thread>

using namespace sylvix;

namespace {

using Listener = test::LoopbackListener;

class Net : public ::testing::Test
{
protected:
    void TearDown() override { SetHostResolver(nullptr); }
};

} // namespace

TEST_F(Net, LooksUpConnectsSendsAndReceives)
{
    int status = -1;
    auto byName = NetLookupByName("localhost", nullptr, status);
    ASSERT_EQ(status, NetDone);
    ASSERT_TRUE(byName && !byName->addresses.empty());
    EXPECT_EQ(byName->addresses.front().text(), "127.0.0.1"); // IPv4 first

    in_addr addr;
    ASSERT_EQ(::inet_pton(AF_INET, "127.0.0.1", &addr), 1);
    auto byAddress = NetLookupByAddress(&addr, sizeof addr, AF_INET, nullptr, status);
    ASSERT_EQ(status, NetDone);
    ASSERT_TRUE(byAddress && byAddress->addresses.size() == 1);
    EXPECT_EQ(byAddress->name + " " + byAddress->addresses[0].text(), "localhost 127.0.0.1");

    // Wrong sizes are refused without a lookup; a failing resolver is a network error.
    EXPECT_FALSE(NetLookupByAddress(&addr, 3, AF_INET, nullptr, status));
    EXPECT_EQ(status, NetCannotStart);
    SetHostResolver([](const std::string &, HostRecord &) { return EAI_NONAME; });
    EXPECT_FALSE(NetLookupByName("x.example", nullptr, status));
    EXPECT_EQ(status, NetError);

    Listener listener;
    int fd = NetConnect(byName->addresses.front(), listener.port(), nullptr, status);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(status, NetDone);
    int peer = listener.accept();
    ASSERT_GE(peer, 0);

    // More than the socket buffers hold, so sending has to wait for the reader.
    const std::string big(8 * 1024 * 1024, 'q');
    size_t got = 0;
    std::thread reader([&] {
        char buf[65536];
        ssize_t n;
        while (got < big.size() && (n = ::recv(peer, buf, sizeof buf, 0)) > 0)
            got += static_cast<size_t>(n);
    });
    EXPECT_TRUE(NetSendAll(fd, big.data(), big.size(), nullptr, status));
    EXPECT_EQ(status, NetDone);
    reader.join();
    EXPECT_EQ(got, big.size());

    ASSERT_EQ(::send(peer, "hello", 5, 0), 5);
    char buf[16];
    EXPECT_EQ(NetReceive(fd, buf, sizeof buf, 0, nullptr, status), 5u);
    EXPECT_EQ(std::string(buf, 5), "hello");

    // The other side closes: end of data (NetDone), not the limit (NetTimedOut).
    ::close(peer);
    EXPECT_EQ(NetReceive(fd, buf, sizeof buf, 0, nullptr, status), 0u);
    EXPECT_EQ(status, NetDone);
    NetClose(fd);
}
