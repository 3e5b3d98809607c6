#include "platform/Net.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace sylvix {

namespace {

using Clock = std::chrono::steady_clock;

// Longest stretch without calling the pump: the cancel latency.
constexpr int kSliceMs = 50;

std::atomic<int> g_lookupMs{15000};
std::atomic<int> g_receiveMs{10000};
std::atomic<int> g_connectMs{10000};

std::mutex g_resolverMutex;
HostResolver g_resolver;

HostResolver currentResolver()
{
    std::lock_guard<std::mutex> lock(g_resolverMutex);
    return g_resolver;
}

int msLeft(Clock::time_point deadline)
{
    auto left
        = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, kSliceMs));
}

// Waits until fd reports one of events, the pump cancels, or limitMs pass.
int waitForSocket(int fd, short events, int limitMs, const NetPump &pump, short &revents)
{
    const Clock::time_point deadline
        = Clock::now() + std::chrono::milliseconds(std::max(limitMs, 0));
    for (;;) {
        if (pump && pump())
            return NetCancelled;
        pollfd p{};
        p.fd = fd;
        p.events = events;
        int r = ::poll(&p, 1, msLeft(deadline));
        if (r > 0) {
            revents = p.revents;
            return NetDone;
        }
        if (r < 0 && errno != EINTR)
            return NetError;
        if (Clock::now() >= deadline)
            return NetTimedOut;
    }
}

int socketError(int fd)
{
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        return errno;
    return err;
}

// What a lookup thread and its waiter share; the waiter may give up and
// leave, so the thread holds its own reference.
struct LookupState
{
    std::mutex mutex;
    std::condition_variable done;
    bool completed = false;
    int error = 0;
    HostRecord record;
};

int systemLookupByName(const std::string &host, HostRecord &out)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo *list = nullptr;
    int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (rc != 0)
        return rc;
    out.name = (list && list->ai_canonname) ? list->ai_canonname : host;
    for (addrinfo *a = list; a; a = a->ai_next) {
        if ((a->ai_family != AF_INET && a->ai_family != AF_INET6)
            || a->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        NetAddress addr;
        std::memcpy(&addr.storage, a->ai_addr, a->ai_addrlen);
        addr.length = a->ai_addrlen;
        out.addresses.push_back(addr);
    }
    ::freeaddrinfo(list);
    std::stable_partition(out.addresses.begin(), out.addresses.end(),
                          [](const NetAddress &a) { return a.family() == AF_INET; });
    return out.addresses.empty() ? EAI_NONAME : 0;
}

int systemLookupByAddress(const NetAddress &addr, HostRecord &out)
{
    char name[NI_MAXHOST];
    int rc = ::getnameinfo(reinterpret_cast<const sockaddr *>(&addr.storage), addr.length, name,
                           sizeof name, nullptr, 0, NI_NAMEREQD);
    if (rc != 0)
        return rc;
    out.name = name;
    out.addresses.push_back(addr);
    return 0;
}

std::optional<HostRecord> runLookup(std::function<int(HostRecord &)> lookup, const NetPump &pump,
                                    int &status)
{
    auto state = std::make_shared<LookupState>();
    try {
        std::thread([state, lookup = std::move(lookup)] {
            HostRecord record;
            int error = lookup(record);
            std::lock_guard<std::mutex> lock(state->mutex);
            state->error = error;
            state->record = std::move(record);
            state->completed = true;
            state->done.notify_all();
        }).detach();
    } catch (const std::system_error &) {
        status = NetCannotStart;
        return std::nullopt;
    }

    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(g_lookupMs.load());
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
        if (state->completed)
            break;
        lock.unlock();
        bool cancelled = pump && pump();
        lock.lock();
        if (cancelled) {
            status = NetCancelled;
            return std::nullopt;
        }
        if (state->completed)
            break;
        if (Clock::now() >= deadline) {
            status = NetTimedOut;
            return std::nullopt;
        }
        state->done.wait_for(lock, std::chrono::milliseconds(msLeft(deadline)));
    }
    if (state->error != 0) {
        status = NetError;
        return std::nullopt;
    }
    status = NetDone;
    return std::move(state->record);
}

} // namespace

std::string NetAddress::text() const
{
    char buf[INET6_ADDRSTRLEN] = "";
    if (family() == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(&storage)->sin_addr, buf,
                    sizeof buf);
    else if (family() == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(&storage)->sin6_addr, buf,
                    sizeof buf);
    return buf;
}

void SetNetworkTimeouts(int lookupMs, int receiveMs, int connectMs)
{
    if (lookupMs >= 0)
        g_lookupMs = lookupMs;
    if (receiveMs >= 0)
        g_receiveMs = receiveMs;
    if (connectMs >= 0)
        g_connectMs = connectMs;
}

NetTimeouts NetworkTimeouts()
{
    return {g_lookupMs.load(), g_receiveMs.load(), g_connectMs.load()};
}

void SetHostResolver(HostResolver resolver)
{
    std::lock_guard<std::mutex> lock(g_resolverMutex);
    g_resolver = std::move(resolver);
}

bool NetStartup()
{
    return true;
}

void NetCleanup() {}

std::optional<HostRecord> NetLookupByName(const std::string &host, const NetPump &pump, int &status)
{
    HostResolver resolver = currentResolver();
    if (!resolver)
        resolver = systemLookupByName;
    return runLookup([host, resolver](HostRecord &out) { return resolver(host, out); }, pump,
                     status);
}

std::optional<HostRecord> NetLookupByAddress(const void *address, size_t length, int family,
                                             const NetPump &pump, int &status)
{
    NetAddress addr;
    if (family == AF_INET && length == sizeof(in_addr)) {
        auto *sin = reinterpret_cast<sockaddr_in *>(&addr.storage);
        sin->sin_family = AF_INET;
        std::memcpy(&sin->sin_addr, address, length);
        addr.length = sizeof(sockaddr_in);
    } else if (family == AF_INET6 && length == sizeof(in6_addr)) {
        auto *sin6 = reinterpret_cast<sockaddr_in6 *>(&addr.storage);
        sin6->sin6_family = AF_INET6;
        std::memcpy(&sin6->sin6_addr, address, length);
        addr.length = sizeof(sockaddr_in6);
    } else {
        status = NetCannotStart;
        return std::nullopt;
    }
    return runLookup([addr](HostRecord &out) { return systemLookupByAddress(addr, out); }, pump,
                     status);
}

int NetConnect(const NetAddress &address, int port, const NetPump &pump, int &status)
{
    if (port <= 0 || port > 65535
        || (address.family() != AF_INET && address.family() != AF_INET6)) {
        status = NetError;
        return -1;
    }
    NetAddress target = address;
    if (target.family() == AF_INET)
        reinterpret_cast<sockaddr_in *>(&target.storage)->sin_port
            = htons(static_cast<uint16_t>(port));
    else
        reinterpret_cast<sockaddr_in6 *>(&target.storage)->sin6_port
            = htons(static_cast<uint16_t>(port));

    int fd = ::socket(target.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        status = NetCannotStart;
        return -1;
    }
    int rc;
    do
        rc = ::connect(fd, reinterpret_cast<const sockaddr *>(&target.storage), target.length);
    while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        status = NetDone;
        return fd;
    }
    if (errno != EINPROGRESS) {
        ::close(fd);
        status = NetError;
        return -1;
    }
    short revents = 0;
    status = waitForSocket(fd, POLLOUT, g_connectMs.load(), pump, revents);
    if (status == NetDone && socketError(fd) != 0)
        status = NetError;
    if (status != NetDone) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool NetSendAll(int socket, const char *data, size_t length, const NetPump &pump, int &status)
{
    status = NetDone;
    while (length > 0) {
        ssize_t n = ::send(socket, data, length, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            length -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            short revents = 0;
            status = waitForSocket(socket, POLLOUT, g_receiveMs.load(), pump, revents);
            if (status != NetDone)
                return false;
            continue;
        }
        status = NetError;
        return false;
    }
    return true;
}

size_t NetReceive(int socket, char *buffer, size_t length, int flags, const NetPump &pump,
                  int &status)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(g_receiveMs.load());
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                        .count();
        short revents = 0;
        status = waitForSocket(socket, POLLIN, static_cast<int>(std::max<long long>(left, 0)), pump,
                               revents);
        if (status != NetDone)
            return 0;
        if ((revents & POLLNVAL)
            || ((revents & POLLERR) && !(revents & POLLIN) && socketError(socket) != 0)) {
            status = NetError;
            return 0;
        }
        ssize_t n = ::recv(socket, buffer, length, flags | MSG_DONTWAIT);
        if (n >= 0)
            return static_cast<size_t>(n);
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
            continue; // readiness that went away: wait again, within the same limit
        return 0;     // a failed receive counts as end of data
    }
}

void NetClose(int socket)
{
    if (socket >= 0)
        ::close(socket);
}

} // namespace sylvix
