#pragma once

// Stream sockets for checking remote documents. Every wait (host lookup,
// connect, send, receive) runs in short slices and calls the caller's pump
// between them, so the caller's event loop stays live and a cancel request
// ends the wait within one slice. Host lookups run on a worker thread that
// may outlive an abandoned wait; it only touches state it shares by
// reference count.

#include <sys/socket.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sylvix {

// Results of a wait (the same numbers as the site model's wait results).
enum NetStatus : int {
    NetDone = 0,
    NetCancelled = 1,
    NetTimedOut = 2,
    NetError = 3,
    NetCannotStart = 4
};

struct NetAddress
{
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family() const { return storage.ss_family; }
    std::string text() const; // "127.0.0.1", "::1"
};

struct HostRecord
{
    std::string name;
    std::vector<NetAddress> addresses; // IPv4 first
};

// Called between the slices of a wait; true ends the wait as cancelled.
using NetPump = std::function<bool()>;

struct NetTimeouts
{
    int lookupMs = 15000;
    int receiveMs = 10000; // also bounds each stall while sending
    int connectMs = 10000;
};
// Values below 0 leave that limit as it is.
void SetNetworkTimeouts(int lookupMs, int receiveMs, int connectMs);
NetTimeouts NetworkTimeouts();

// Replaces the system's lookup by name (called on the lookup thread): 0 and
// out filled on success, else a non-zero error. An empty function restores
// the system's lookup.
using HostResolver = std::function<int(const std::string &host, HostRecord &out)>;
void SetHostResolver(HostResolver resolver);

// Network support needs no start-up here; both exist so that callers keep
// the start-up/clean-up pairing of platforms that do.
bool NetStartup();
void NetCleanup();

std::optional<HostRecord> NetLookupByName(const std::string &host, const NetPump &pump,
                                          int &status);
// address: length bytes of an in_addr (AF_INET) or in6_addr (AF_INET6).
// The record's name comes from the reverse lookup (a name is required); its
// one address is the address given.
std::optional<HostRecord> NetLookupByAddress(const void *address, size_t length, int family,
                                             const NetPump &pump, int &status);

// A non-blocking stream socket connected to address and port, or -1 with
// status telling why.
int NetConnect(const NetAddress &address, int port, const NetPump &pump, int &status);
// Sends all of data; false with status when it could not.
bool NetSendAll(int socket, const char *data, size_t length, const NetPump &pump, int &status);
// Waits until the socket is readable, then receives up to length bytes.
// Returns the count when status is NetDone; 0 on end of data, on a failed
// receive, and whenever status is not NetDone.
size_t NetReceive(int socket, char *buffer, size_t length, int flags, const NetPump &pump,
                  int &status);
void NetClose(int socket);

} // namespace sylvix
