// Host look-ups. (Connecting, sending and receiving, with the time and
// cancel bounds of the waits, are checked through HTTP in HttpFetchTest.)

#include "platform/Net.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

using namespace sylvix;

TEST(Net, LooksUpByNameAndByAddress)
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

    // Wrong sizes are refused without a lookup.
    EXPECT_FALSE(NetLookupByAddress(&addr, 3, AF_INET, nullptr, status));
    EXPECT_EQ(status, NetCannotStart);
}
