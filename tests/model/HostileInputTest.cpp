// What a hostile server or page can make the site model spend: a peer that
// drips its answer, bodies that would fill the disk, pages the server could
// not send, a store damaged under the reader.

#include "ModelFixture.h"
#include "model/Expand.h"
#include "model/Http.h"
#include "model/HttpReader.h"
#include "model/Page.h"
#include "model/Resolve.h"
#include "model/Url.h"
#include "model/testing/HttpMemorySource.h"
#include "tests/support/ScriptServer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace sylvix;
using namespace sylvix::test;

namespace {

using Clock = std::chrono::steady_clock;

// A reply of head, then one byte every 50 ms for 20 s.
Reply dripping(const std::string &head)
{
    std::vector<std::string> pieces(401, "z");
    pieces[0] = head;
    return {pieces, 50};
}

std::string noteOf(const SiteNode *n)
{
    if (!n->diagnostics || n->diagnostics->empty())
        return "";
    return n->diagnostics->front().message;
}

class HostileInput : public HttpFixture
{
protected:
    void TearDown() override
    {
        m_nodes.clear();
        SetHttpCheckDeadline(-1);
        SetTempBudget(-1);
        HttpFixture::TearDown();
    }
    int64_t bytesInTmp() const
    {
        int64_t total = 0;
        for (const auto &e : std::filesystem::directory_iterator(m_tmp))
            total += static_cast<int64_t>(e.file_size());
        return total;
    }
};

} // namespace

TEST_F(HostileInput, DrippingPeerIsStoppedAtTheCheckDeadline)
{
    // Each receive gets a byte well within its time-out; only the deadline
    // of the whole check can end these.
    SetNetworkTimeouts(5000, 1000, 5000);
    SetHttpCheckDeadline(1500);
    const struct
    {
        const char *title;
        std::string head;
        bool notVerified; // stopped in the headers
    } cases[] = {
        {"a header that never ends", "HTTP/1.0 200 OK\r\nX-Slow: ", true},
        {"a body that never ends", "HTTP/1.0 200 OK\r\nContent-type: text/html\r\n\r\n", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.title);
        ScriptServer peer;
        peer.push(dripping(c.head));
        SiteNode *n = node(peer.base() + "/slow");
        n->flags |= EXTERNAL;
        const auto start = Clock::now();
        EXPECT_EQ(FetchOverHttp(n), 1);
        // The time is the behaviour: 1.5 s of deadline, a generous bound
        // for a loaded machine, far below the 20 s the peer would drip.
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
        EXPECT_EQ((n->flags & NOTVER) != 0, c.notVerified);
        EXPECT_FALSE(n->flags & BROKEN);
        EXPECT_NE(noteOf(n).find("was stopped after 1500 ms"), std::string::npos) << noteOf(n);
        if (!c.notVerified) {
            ASSERT_TRUE(n->localPath);
            EXPECT_GT(std::filesystem::file_size(n->localPath.str()), 0u);
            // The part received is parsed, its check deferred; the note stays.
            SetMarkupChecks(MarkupChecks::OnFirstRead);
            ExpandNode(n);
            SetMarkupChecks(MarkupChecks::AtOnce);
            EXPECT_NE(noteOf(n).find("was stopped after 1500 ms"), std::string::npos) << noteOf(n);
        }
    }
}

TEST_F(HostileInput, KeptBodiesStayWithinTheirBudget)
{
    SetTempBudget(100000);
    const std::string head = "HTTP/1.0 200 OK\r\nContent-type: text/html\r\n\r\n";
    for (int i = 0; i < 8; ++i) {
        SiteNode *n = node("http://remote.example:8080/b" + std::to_string(i));
        n->flags |= EXTERNAL;
        HttpMemorySource source({head, std::string(30000, 'b')});
        HttpReader reader(source);
        EXPECT_EQ(reader.readAnswer(n), AnswerDone);
        EXPECT_FALSE(n->flags & (BROKEN | NOTVER));
        EXPECT_EQ(n->stat.size, 30000);
        const bool kept = i < 3;
        EXPECT_EQ(static_cast<bool>(n->localPath), kept) << i;
        ExpandNode(n); // a parse of what is there keeps the note
        EXPECT_EQ(noteOf(n).find("checked but not kept") != std::string::npos, !kept) << noteOf(n);
        EXPECT_LE(bytesInTmp(), 100000);
    }
    EXPECT_EQ(TempBytesKept(), 90000);
    m_nodes.clear();
    EXPECT_EQ(TempBytesKept(), 0);
    EXPECT_EQ(bytesInTmp(), 0);
}

TEST_F(HostileInput, PagesTheServerCannotSendAreBrokenAndSayWhy)
{
    std::filesystem::create_directories(m_dir / "docs");
    ASSERT_EQ(::mkfifo((m_dir / "docs/pipe.html").c_str(), 0644), 0);
    std::filesystem::create_directories(m_dir / "docs/folder.html");
    std::filesystem::create_symlink("/dev/null", m_dir / "docs/device.html");
    doc("locked.html");
    ::chmod((m_dir / "docs/locked.html").c_str(), 0);
    doc("fine.html");
    const bool root = ::geteuid() == 0; // reads anything
    const struct
    {
        const char *file;
        const char *why; // "" when the page is fine
    } cases[] = {
        {"pipe.html", "it is a named pipe"},
        {"folder.html", "it is a directory"},
        {"device.html", "it is a device"},
        {"locked.html", root ? "" : "it cannot be read"},
        {"fine.html", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        SiteNode *n = node(std::string("http://localhost/") + c.file);
        EXPECT_EQ(NeedsReload(n), ReloadResult::Expand);
        ExpandNode(n); // never blocks on the pipe
        EXPECT_EQ((n->flags & BROKEN) != 0, *c.why != '\0');
        if (*c.why) {
            EXPECT_NE(noteOf(n).find(c.why), std::string::npos) << noteOf(n);
            EXPECT_NE(noteOf(n).find(n->localPath.str()), std::string::npos) << noteOf(n);
        } else {
            EXPECT_EQ(noteOf(n).find("cannot send"), std::string::npos) << noteOf(n);
        }
    }

    // Once the file is a page again, the node is whole and the note goes.
    SiteNode *n = node("http://localhost/pipe.html");
    ResolveNode(n);
    ASSERT_TRUE(n->flags & BROKEN);
    std::filesystem::remove(m_dir / "docs/pipe.html");
    doc("pipe.html");
    ResolveNode(n);
    EXPECT_FALSE(n->flags & BROKEN);
    EXPECT_FALSE(n->diagnostics);
}

TEST_F(HostileInput, AStoreDamagedAfterItWasOpenedIsAFailureNotAnEmptyAnswer)
{
    ASSERT_EQ(CurrentServerSettings().serverName, "localhost");
    EXPECT_EQ(ConfigReadFailure(), "");
    // Another process changes the store, so that what was read is read
    // again, and then the file is wiped under both.
    {
        auto other = OpenSqliteStore(m_dir / "registry.db");
        ASSERT_TRUE(other);
        auto key = other->root()->openKey(kServerKeyPath);
        ASSERT_TRUE(key);
        ASSERT_TRUE(WriteString(*key, "ServerName", "www.example.org"));
    }
    for (const char *suffix : {"", "-wal"}) {
        const std::string path = m_dir / ("registry.db" + std::string(suffix));
        const auto size = std::filesystem::file_size(path);
        std::ofstream(path, std::ios::binary | std::ios::in) << std::string(size, '\0');
    }
    const ServerSettings &after = CurrentServerSettings();
    EXPECT_FALSE(after.serverName);
    EXPECT_NE(ConfigReadFailure(), "") << "the empty answer stands as the store's";
}
