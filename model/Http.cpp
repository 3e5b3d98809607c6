#include "model/Http.h"

#include "model/Cause.h"
#include "model/Config.h"
#include "model/Events.h"
#include "model/HttpReader.h"
#include "model/Notify.h"
#include "model/Resolve.h"
#include "model/SiteNode.h"
#include "model/internal/HttpSocketSource.h"
#include "platform/TextUtil.h"

#include <netinet/in.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

namespace sylvix {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> g_checkMs{kDefaultHttpCheckMs};
// The deadline of the check in progress, shared by the nested checks that a
// "Redirect:" header starts through ResolveNode.
Clock::time_point g_checkDeadline = Clock::time_point::max();
bool g_checkExpired = false;

constexpr char kCheckOf[] = "The check of ";
constexpr char kStoppedAfter[] = " was stopped after ";

bool pumpForWait()
{
    if (PumpMessages() != 0)
        return true;
    if (Clock::now() >= g_checkDeadline)
        g_checkExpired = true;
    return g_checkExpired;
}

// Redirects taken by the check in progress, counted across the nested
// checks that a "Redirect:" header starts through ResolveNode.
int g_fetchDepth = 0;
int g_redirectsTaken = 0;

// A wait that ended because the check ran out of time leaves the node not
// verified, and saying why.
HttpAnswer expired(SiteNode *node, int &result)
{
    node->flags |= NOTVER;
    result = 1;
    return AnswerDone;
}

void noteExpired(SiteNode *node)
{
    const int ms = g_checkMs.load();
    const std::string limit
        = ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
    DiagnosticList note{{std::string(kCheckOf) + node->url.str() + kStoppedAfter + limit
                             + ": the server did not answer in time",
                         2, 0}};
    node->diagnostics = std::make_shared<const DiagnosticList>(std::move(note));
}

// The host read the way "%d.%d.%d.%d" reads it: four numbers (each after
// optional white space and a sign) separated by dots, anything after them
// ignored.
bool readsAsFourNumbers(std::string_view s, long long (&parts)[4], size_t &end)
{
    size_t i = 0;
    for (int k = 0; k < 4; ++k) {
        if (k > 0) {
            if (i >= s.size() || s[i] != '.')
                return false;
            ++i;
        }
        if (!readCNumber(s, i, 1LL << 40, parts[k]))
            return false;
    }
    end = i;
    return true;
}

// A sane method token, else "GET": the method goes into the request line
// as is, so a form's odd "method" must not add lines to it.
std::string requestMethod(const SiteNode *node)
{
    if (!node->method() || node->method().empty())
        return "GET";
    for (char c : node->method().view())
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f)
            return "GET";
    return node->method().str();
}

std::string buildRequest(const SiteNode *node)
{
    std::string r = requestMethod(node);
    r += ' ';
    r += node->dir.view();
    if (node->file)
        r += node->file.view();
    if (node->query()) {
        r += '?';
        r += node->query().view();
    }
    r += " HTTP/1.0\r\nUser-Agent: Kelto-Sylvix-Browser/1.0\r\n";
    r += "\r\n";
    return r;
}

struct SocketGuard
{
    int fd = -1;
    ~SocketGuard() { NetClose(fd); }
};

// Network support for one exchange, cleaned up however it ends.
struct NetSupport
{
    bool started = NetStartup();
    ~NetSupport()
    {
        if (started)
            NetCleanup();
    }
};

// One request and its answer. For AnswerStopped and AnswerDone, result is
// what the check returns.
int fetch(SiteNode *node);

HttpAnswer exchange(SiteNode *node, int &result)
{
    NetSupport support;
    if (!support.started) {
        // Cannot happen with POSIX sockets; kept for platforms whose network
        // support can be missing.
        if (AskYesNo("Give up looking for Winsock?", "No suitable Winsock"))
            verifyExternal = false;
        node->flags |= NOTVER;
        result = 0;
        return AnswerStopped;
    }
    const std::string host = node->host.str();
    ShowStatusText("Connecting to " + host + "...");

    int status = WaitDone;
    std::optional<HostRecord> record;
    long long parts[4];
    size_t end = 0;
    if (readsAsFourNumbers(host, parts, end)) {
        bool valid = end == host.size();
        for (long long p : parts)
            valid = valid && p >= 0 && p <= 255;
        if (valid) {
            unsigned char bytes[4];
            for (int k = 0; k < 4; ++k)
                bytes[k] = static_cast<unsigned char>(parts[k]);
            in_addr address;
            std::memcpy(&address, bytes, sizeof address);
            record = LookupHostByAddress(&address, sizeof address, AF_INET, status);
        } else {
            status = WaitNetError; // not an address: fails as a lookup would
        }
    } else {
        record = LookupHostByName(host, status);
    }

    if (g_checkExpired)
        return expired(node, result);
    if (!record || record->addresses.empty()) {
        if (status == WaitCancelled) {
            ShowErrorBox("Connection to " + host + " canceled by user", "Connect Canceled");
            result = 0;
            return AnswerStopped;
        }
        if (verifyExternal
            && AskYesNo("Perhaps you are disconnected from the Net.\nGive up looking for external "
                        "documents?",
                        "DNS Problem"))
            verifyExternal = false;
        node->flags |= NOTVER;
        result = 1;
        return AnswerDone;
    }

    SocketGuard socket;
    RequestCancel(0);
    socket.fd = NetConnect(record->addresses.front(), node->port, pumpForWait, status);
    if (g_checkExpired)
        return expired(node, result);
    if (socket.fd < 0) {
        if (status == WaitCancelled) {
            ShowErrorBox("Connection to " + host + " canceled by user", "Connect Canceled");
            result = 0;
            return AnswerStopped;
        }
        node->flags |= NOTVER;
        result = 1;
        return AnswerDone;
    }

    const std::string request = buildRequest(node);
    RequestCancel(0);
    if (!NetSendAll(socket.fd, request.data(), request.size(), pumpForWait, status)) {
        if (g_checkExpired)
            return expired(node, result);
        if (status == WaitCancelled) {
            result = 0;
            return AnswerStopped;
        }
        node->flags |= NOTVER;
        result = 1;
        return AnswerDone;
    }

    HttpSocketSource source(socket.fd);
    HttpReader reader(source);
    HttpAnswer answer = reader.readAnswer(node);
    result = answer == AnswerStopped ? 0 : 1;
    return answer;
}

} // namespace

std::optional<HostRecord> LookupHostByName(const std::string &host, int &status)
{
    RequestCancel(0);
    return NetLookupByName(host, pumpForWait, status);
}

std::optional<HostRecord> LookupHostByAddress(const void *address, size_t length, int family,
                                              int &status)
{
    RequestCancel(0);
    return NetLookupByAddress(address, length, family, pumpForWait, status);
}

size_t ReceiveWithTimeout(int socket, char *buffer, size_t length, int flags, int &status)
{
    RequestCancel(0);
    return NetReceive(socket, buffer, length, flags, pumpForWait, status);
}

void SetHttpCheckDeadline(int ms)
{
    g_checkMs = ms < 0 ? kDefaultHttpCheckMs : ms;
}

int HttpCheckDeadline()
{
    return g_checkMs.load();
}

bool HttpCheckExpired()
{
    return g_checkExpired;
}

bool IsCheckNote(std::string_view message)
{
    return message.starts_with(kNotKeptNote)
           || (message.starts_with(kCheckOf) && message.find(kStoppedAfter) != message.npos);
}

int FetchOverHttp(SiteNode *node)
{
    PrepareChange(node);
    const bool outermost = g_fetchDepth == 0;
    if (outermost) {
        g_redirectsTaken = 0;
        g_checkExpired = false;
        g_checkDeadline = Clock::now() + std::chrono::milliseconds(g_checkMs.load());
    }
    struct Depth
    {
        bool outermost;
        explicit Depth(bool o) : outermost(o) { ++g_fetchDepth; }
        ~Depth()
        {
            --g_fetchDepth;
            if (outermost)
                g_checkDeadline = Clock::time_point::max();
        }
    } depth(outermost);
    const int result = fetch(node);
    if (outermost && g_checkExpired)
        noteExpired(node);
    return result;
}

namespace {

int fetch(SiteNode *node)
{
    for (;;) {
        int result = 1;
        HttpAnswer answer = exchange(node, result);
        if (answer == AnswerStopped || answer == AnswerDone)
            return result;
        if (g_redirectsTaken >= kMaxHttpRedirects) {
            node->flags |= BROKEN;
            node->cause = CauseRedirectLoop;
            return 1;
        }
        ++g_redirectsTaken;
        if (answer == AnswerRedirect)
            return ResolveNode(node) == ResolveResult::Finished;
        // AnswerFollow: the "location:" or "uri:" header, if any, has put
        // the new URL in the node.
    }
}

} // namespace

} // namespace sylvix
