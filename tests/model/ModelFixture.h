#pragma once

// A temporary document tree and a configuration store describing a server
// that serves it, for tests of the site model; and small helpers they share.

#include "model/Config.h"
#include "model/Display.h"
#include "model/Expand.h"
#include "model/Http.h"
#include "model/SiteNode.h"
#include "model/Url.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace sylvix::test {

// Frees a tree at scope end.
struct TreeGuard
{
    SiteNode *root;
    ~TreeGuard() { FreeNode(root); }
};

inline std::vector<SiteNode *> Children(SiteNode *n)
{
    std::vector<SiteNode *> out;
    for (SiteNode *c = n ? n->firstChild() : nullptr; c; c = c->nextSibling())
        out.push_back(c);
    return out;
}

// The first message about n, "" when none.
inline std::string NoteOf(const SiteNode *n)
{
    return n->diagnostics && !n->diagnostics->empty() ? n->diagnostics->front().message : "";
}

// Expands n when it needs it, as opening its row does.
inline void Refresh(SiteNode *n)
{
    if (NeedsReload(n) == ReloadResult::Expand)
        ExpandNode(n);
}

inline void SetMtime(const std::string &path, time_t sec, long nsec = 0)
{
    const struct timespec t[2] = {{sec, nsec}, {sec, nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), t, 0), 0) << path;
}

// A time on the local clock, summer time as the zone has it then.
inline time_t LocalTime(int year, int month, int day, int hour, int minute = 0, int second = 0)
{
    struct tm tm = {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

// Opens a fresh store in dir and the configuration on it, with the
// server's key and the program's key present.
class ServerFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto store = OpenSqliteStore(m_dir / "registry.db");
        ASSERT_TRUE(store);
        auto root = store->root();
        m_server = root->createKey(kServerKeyPath);
        ASSERT_TRUE(m_server);
        ASSERT_TRUE(root->createKey(kProgramKeyPath));
        WriteString(*m_server, "ServerName", "www.example.org");
        WriteDword(*m_server, "TCP Port", 80);
        WriteString(*m_server, "ServerRoot", m_dir / "srv");
        docMap("/", m_dir / "docs");
        for (const auto &[ext, type] : {std::pair{".html", "text/html"},
                                        {".htm", "text/html"},
                                        {".gif", "image/gif"},
                                        {".txt", "text/plain"},
                                        {".sh", "wwwserver/shellcgi"},
                                        {".exe", "wwwserver/wincgi"}})
            typeMap(ext, type);
        set("DirIndex", "IndexDoc", "index.html");
        UseStores(std::move(store));
        ASSERT_EQ(OpenConfiguration(nullptr), OpenConfigResult::Ok);
        verifyExternal = false;
    }
    void TearDown() override
    {
        freeNodes();
        m_server.reset();
        CloseConfiguration();
    }

    // A node for url, freed with the fixture.
    SiteNode *node(const std::string &url)
    {
        SiteNode *n = CreateNode();
        SetUrl(n, url, nullptr);
        m_nodes.push_back(n);
        return n;
    }
    void freeNodes()
    {
        for (SiteNode *n : m_nodes)
            FreeNode(n);
        m_nodes.clear();
    }

    void set(const std::string &key, const std::string &name, const std::string &value)
    {
        auto k = m_server->createKey(key);
        ASSERT_TRUE(k);
        WriteString(*k, name, value);
    }
    void docMap(const std::string &prefix, const std::string &dir) { set("DocMap", prefix, dir); }
    void typeMap(const std::string &ext, const std::string &type) { set("TypeMap", ext, type); }

    std::string doc(const std::string &rel, const std::string &content = "<html></html>")
    {
        return m_dir.write("docs/" + rel, content);
    }

    // Kind, flag letters and local file (below the temporary directory) at
    // a glance: "HTML E---B- docs/a.html".
    std::string brief(SiteNode *n) const
    {
        std::string path = n->localPath.str();
        if (path.rfind(m_dir.path() + "/", 0) == 0)
            path.erase(0, m_dir.path().size() + 1);
        return std::string(KindDisplayText(n->kind)) + " " + FlagLetters(n->flags) + " " + path;
    }

    TempDir m_dir;
    std::unique_ptr<ConfigKey> m_server;
    std::vector<SiteNode *> m_nodes;
};

// This server is "localhost" on port 80 and checks external links, so that
// peers on other loopback ports are external; fetched files go to a
// private TMPDIR.
class HttpFixture : public ServerFixture
{
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        WriteString(*m_server, "ServerName", "localhost");
        verifyExternal = true;
        std::filesystem::create_directories(m_tmp);
        m_tmpEnv.emplace("TMPDIR", m_tmp.c_str());
    }
    void TearDown() override
    {
        SetNetworkTimeouts(15000, 10000, 10000);
        m_tmpEnv.reset();
        verifyExternal = false;
        ServerFixture::TearDown();
    }

    const std::string m_tmp = m_dir / "tmp";
    std::optional<ScopedEnv> m_tmpEnv;
};

} // namespace sylvix::test
