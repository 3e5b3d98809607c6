#pragma once

// The demo server's configuration (examples/demo-config.reg) in a fresh
// store in a temporary folder, opened as the configuration in use.

#include "cli/RegFile.h"
#include "model/Config.h"
#include "platform/ConfigStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace sylvix::test {

class DemoStore
{
public:
    DemoStore()
    {
        std::string templ = (std::filesystem::temp_directory_path() / "sylvix-gui-XXXXXX").string();
        m_dir = ::mkdtemp(templ.data());
        const std::string examples = std::string(SYLVIX_SOURCE_DIR) + "/examples";
        std::ifstream in(examples + "/demo-config.reg", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string reg = text.str();
        replaceAll(reg, "@SERVER_ROOT@", examples);
        replaceAll(reg, "@LOG_DIR@", m_dir);
        auto store = OpenSqliteStore(m_dir + "/registry.db");
        EXPECT_TRUE(store);
        std::string error;
        EXPECT_TRUE(ImportRegText(*store, reg, "demo-config.reg", error)) << error;
        store.reset();
        m_path = m_dir + "/registry.db";
    }
    ~DemoStore()
    {
        CloseConfiguration();
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    const std::string &path() const { return m_path; }

    // The store as the configuration in use, as if opened by the program.
    void use() const { UseStores(OpenSqliteStore(m_path)); }

private:
    static void replaceAll(std::string &s, const std::string &from, const std::string &to)
    {
        for (size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
            s.replace(pos, from.size(), to);
    }

    std::string m_dir;
    std::string m_path;
};

} // namespace sylvix::test
