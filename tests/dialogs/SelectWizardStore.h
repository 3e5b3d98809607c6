#pragma once

// A store of its own with wizards registered for a few content types, opened
// as the configuration in use.

#include "model/Config.h"
#include "platform/ConfigStore.h"
#include "tests/support/GuiTest.h"
#include "tests/support/TempDir.h"

#include <QDialog>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace sylvix::test {

class WizardStore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UseStores(OpenSqliteStore(m_dir / "registry.db"));
        auto root = LocalStore()->root();
        ASSERT_TRUE(root->createKey(kServerKeyPath));
        ASSERT_TRUE(root->createKey(kProgramKeyPath));
        // Stored out of name order, so that the list's sorting shows.
        wizard("text/html", "Zeta Page", "Last by name", "zeta.sh %s");
        wizard("text/html", "Alpha Page", "First by name", "alpha.sh %s");
        ASSERT_TRUE(root->createKey(std::string(kProgramKeyPath) + "\\Wizards\\text/html\\Bare"));
        ASSERT_TRUE(root->createKey(std::string(kProgramKeyPath) + "\\Wizards\\text/plain"));
        wizard("text/css", "Long", "Very long", std::string(700, 'x'));
        ASSERT_EQ(OpenConfiguration(nullptr), OpenConfigResult::Ok);
    }
    void TearDown() override { CloseConfiguration(); }

    void wizard(const std::string &type, const std::string &name, const std::string &description,
                const std::string &commandLine)
    {
        auto key = LocalStore()->root()->createKey(std::string(kProgramKeyPath) + "\\Wizards\\"
                                                   + type + "\\" + name);
        ASSERT_TRUE(key);
        WriteString(*key, "Description", description);
        WriteString(*key, "CommandLine", commandLine);
    }

    TempDir m_dir;
};

} // namespace sylvix::test
