#pragma once

// The demo store with its server root moved to a temporary copy holding
// stand-in programs that record how they were started: one line per start
// with their process id, working folder, program path and arguments.

#include "app/CommandLine.h"
#include "app/Tools.h"
#include "model/Config.h"
#include "resources/CommandTable.h"
#include "tests/app/AppFixture.h"
#include "tests/support/GuiTest.h"
#include "tests/support/TempDir.h"

#include <QTest>

#include <filesystem>
#include <sstream>

#include <sys/stat.h>

namespace sylvix::test {

struct StartRecord
{
    pid_t pid = 0;
    std::string folder;
    std::string program; // the path the program was run from
    std::vector<std::string> args;
};

inline bool processGone(pid_t pid)
{
    return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
}

class ToolsFixture : public AppFixture
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        ASSERT_EQ(OpenConfiguration(nullptr), OpenConfigResult::Ok);
        std::filesystem::create_directories(m_root / "records");
        std::filesystem::create_directories(m_root / "admin");
        std::filesystem::create_directories(m_root / "wizards");
        ASSERT_TRUE(ServerKey && ProgramKey);
        WriteString(*ServerKey, "ServerRoot", m_root.path() + "/");
        remoteRegistryMachine.reset();
    }
    void TearDown() override
    {
        for (int id : {ID_TOOL_ADMIN, ID_TOOL_LEXMILL, ID_TOOL_AREAPAD, ID_TOOL_NUMBREL})
            ToolProcess(id).Terminate();
        BrowserProcess().Terminate();
        WizardProcess().Terminate();
        remoteRegistryMachine.reset();
        AppFixture::TearDown();
    }

    // A stand-in at rel under the server root; a holding one stays running
    // until it is ended.
    std::string standIn(const std::string &rel, bool hold = false, const std::string &extra = "")
    {
        const std::string name = std::filesystem::path(rel).filename();
        const std::string path = m_root.write(
            rel,
            "#!/bin/sh\nline=\"$$\t$(pwd)\t$0\"\nfor a in \"$@\"; do line=\"$line\t$a\"; done\n"
            "printf '%s\\n' \"$line\" >> '"
                + logOf(name) + "'\n" + extra + (hold ? "exec sleep 30\n" : ""));
        ::chmod(path.c_str(), 0755);
        return path;
    }
    std::string logOf(const std::string &name) const
    {
        return m_root / ("records/" + name + ".log");
    }

    // The starts recorded for a stand-in, once there are at least count.
    std::vector<StartRecord> starts(const std::string &name, size_t count = 1) const
    {
        std::vector<StartRecord> out;
        auto read = [&] {
            out.clear();
            std::istringstream in(readFile(logOf(name)));
            for (std::string line; std::getline(in, line);) {
                std::vector<std::string> fields;
                std::istringstream parts(line + '\t');
                for (std::string f; std::getline(parts, f, '\t');)
                    fields.push_back(f);
                if (fields.size() < 3)
                    continue;
                out.push_back({pid_t(std::atoi(fields[0].c_str())), fields[1], fields[2],
                               std::vector<std::string>(fields.begin() + 3, fields.end())});
            }
            return out.size() >= count;
        };
        // Generous: the stand-ins are separate processes on a loaded machine.
        EXPECT_TRUE(QTest::qWaitFor(read, 20000)) << name << " started " << out.size() << " times";
        return out;
    }

    TempDir m_root;
};

} // namespace sylvix::test
