#pragma once

// The demo server's configuration (examples/demo-config.reg) in a fresh
// store in a temporary folder, opened as the configuration in use. With
// copySite the server root is a copy of examples/ that tests may change.

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
    {
        const std::string examples = std::string(SYLVIX_SOURCE_DIR) + "/examples";
        m_root = copySite ? m_dir / "root" : examples;
        if (copySite)
            std::filesystem::copy(examples, m_root, std::filesystem::copy_options::recursive);
        std::string reg = readFile(examples + "/demo-config.reg");
        replaceAll(reg, "@SERVER_ROOT@", m_root);
        replaceAll(reg, "@LOG_DIR@", m_dir.path());
        auto store = OpenSqliteStore(path());
        std::string error;
        EXPECT_TRUE(store && ImportRegText(*store, reg, "demo-config.reg", error)) << error;
    }
    ~DemoStore() { CloseConfiguration(); }
    std::string path() const { return m_dir / "registry.db"; }
    // The folder the demo's access log is read from.
    const std::string &logDir() const { return m_dir.path(); }
    std::string page(const std::string &rel) const { return m_root + "/demo-site/" + rel; }

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
