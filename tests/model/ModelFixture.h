#pragma once

// A temporary document tree and a configuration store describing a server
// that serves it, for tests of the site model.

#include "model/Config.h"
#include "model/Http.h"
#include "model/SiteNode.h"
#include "model/Url.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace sylvix::test {

// Points TMPDIR (where fetched documents go) at a directory, made when
// missing, for the object's life.
class ScopedTmpDir
{
public:
    explicit ScopedTmpDir(const std::string &dir)
        : m_made(std::filesystem::create_directories(dir)), m_env("TMPDIR", dir.c_str())
    {}

private:
    bool m_made;
    ScopedEnv m_env;
};

// Nodes made from URLs, all freed at once.
class OwnedNodes
{
public:
    OwnedNodes() = default;
    OwnedNodes(const OwnedNodes &) = delete;
    OwnedNodes &operator=(const OwnedNodes &) = delete;
    ~OwnedNodes() { clear(); }
    SiteNode *make(const std::string &url)
    {
        SiteNode *n = CreateNode();
        SetUrl(n, url, nullptr);
        m_nodes.push_back(n);
        return n;
    }
    void clear()
    {
        for (SiteNode *n : m_nodes)
            FreeNode(n);
        m_nodes.clear();
    }

private:
    std::vector<SiteNode *> m_nodes;
};

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
        typeMap(".html", "text/html");
        typeMap(".htm", "text/html");
        typeMap(".gif", "image/gif");
        typeMap(".txt", "text/plain");
        typeMap(".au", "audio/basic");
        typeMap(".mpg", "video/mpeg");
        typeMap(".ps", "application/postscript");
        typeMap(".sh", "wwwserver/shellcgi");
        typeMap(".exe", "wwwserver/wincgi");
        set("DirIndex", "IndexDoc", "index.html");
        UseStores(std::move(store));
        ASSERT_EQ(OpenConfiguration(nullptr), OpenConfigResult::Ok);
        verifyExternal = false;
    }
    void TearDown() override
    {
        m_nodes.clear();
        m_server.reset();
        CloseConfiguration();
    }

    SiteNode *node(const std::string &url) { return m_nodes.make(url); }

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

    TempDir m_dir;
    std::unique_ptr<ConfigKey> m_server;
    OwnedNodes m_nodes;
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
        m_tmpEnv.emplace(m_tmp);
    }
    void TearDown() override
    {
        m_nodes.clear();
        SetNetworkTimeouts(15000, 10000, 10000);
        m_tmpEnv.reset();
        verifyExternal = false;
        ServerFixture::TearDown();
    }

    const std::string m_tmp = m_dir / "tmp";
    std::optional<ScopedTmpDir> m_tmpEnv;
};

// Frees a tree at scope end.
struct TreeGuard
{
    SiteNode *root;
    ~TreeGuard() { FreeNode(root); }
};

} // namespace sylvix::test
