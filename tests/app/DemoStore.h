#pragma once

// A server's configuration in a fresh store in a temporary folder, opened as
// the configuration in use: by default the demo's (examples/demo-config.reg).
// With copySite the server root is a copy of the folder that tests may change.

#include "cli/RegFile.h"
#include "model/Config.h"
#include "platform/ConfigStore.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace sylvix::test {

class DemoStore
{
public:
    explicit DemoStore(bool copySite = false)
        : DemoStore(std::string(SYLVIX_SOURCE_DIR) + "/examples", "demo-config.reg", copySite)
    {}
    // The .reg file reg in folder, whose "@SERVER_ROOT@" stands for the root.
    DemoStore(const std::string &folder, const std::string &reg, bool copySite)
    {
        m_root = copySite ? m_dir / "root" : folder;
        if (copySite)
            std::filesystem::copy(folder, m_root, std::filesystem::copy_options::recursive);
        std::string text = readFile(folder + "/" + reg);
        replaceAll(text, "@SERVER_ROOT@", m_root);
        replaceAll(text, "@LOG_DIR@", m_dir.path());
        auto store = OpenSqliteStore(path());
        std::string error;
        EXPECT_TRUE(store && ImportRegText(*store, text, reg, error)) << error;
    }
    ~DemoStore() { CloseConfiguration(); }
    std::string path() const { return m_dir / "registry.db"; }
    // The folder the demo's access log is read from.
    const std::string &logDir() const { return m_dir.path(); }
    const std::string &root() const { return m_root; }
    std::string page(const std::string &rel) const { return m_root + "/demo-site/" + rel; }
    // Writes a file under the root of a copied site; returns its path.
    std::string write(const std::string &rel, const std::string &content) const
    {
        return m_dir.write("root/" + rel, content);
    }

    // The store as the configuration in use, as if opened by the program.
    void use() const { UseStores(OpenSqliteStore(path())); }

private:
    static void replaceAll(std::string &s, const std::string &from, const std::string &to)
    {
        for (size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
            s.replace(pos, from.size(), to);
    }

    TempDir m_dir;
    std::string m_root;
};

} // namespace sylvix::test
