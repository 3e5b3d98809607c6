// The companion programs: the tools and the wizards, each a stand-in that
// records how it was started, with a copy of the demo's server root.

#include "app/Tools.h"
#include "app/CommandLine.h"
#include "resources/CommandTable.h"
#include "tests/app/AppFixture.h"
#include "tests/support/GuiTest.h"
#include "tests/support/ScopedEnv.h"

#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <filesystem>
#include <sstream>

using namespace sylvix;
using namespace sylvix::test;
using Args = std::vector<std::string>;

namespace {

bool processGone(pid_t pid)
{
    return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
}

} // namespace

const std::string kData = std::string(SYLVIX_SOURCE_DIR) + "/tests/app/data";

// The programs are copies of data/standin.sh; the desktop's xdg-open is a
// stand-in in data/bin, should a test fall back to it.
class Tools : public AppFixture
{
protected:
    Tools() : AppFixture(true) {}
    void SetUp() override
    {
        AppFixture::SetUp();
        ASSERT_EQ(OpenConfiguration(nullptr), OpenConfigResult::Ok);
        ASSERT_TRUE(ServerKey && ProgramKey);
        WriteString(*ServerKey, "ServerRoot", root() + "/");
        remoteRegistryMachine.reset();
    }
    void TearDown() override
    {
        for (int id : {ID_TOOL_ADMIN, ID_TOOL_LEXMILL, ID_TOOL_AREAPAD, ID_TOOL_NUMBREL})
            ToolProcess(id).Terminate();
        WizardProcess().Terminate();
        remoteRegistryMachine.reset();
        AppFixture::TearDown();
    }

    const std::string &root() const { return m_demo.root(); }

    // A stand-in at rel under the server root.
    std::string standIn(const std::string &rel)
    {
        const std::filesystem::path path = root() + "/" + rel;
        std::filesystem::create_directories(path.parent_path());
        std::filesystem::copy_file(kData + "/standin.sh", path,
                                   std::filesystem::copy_options::overwrite_existing);
        return path;
    }

    // The starts recorded for a stand-in, once there are at least count: the
    // folder, the path the program was run from, its arguments.
    std::vector<Args> starts(const std::string &name, size_t count = 1) const
    {
        std::vector<Args> out;
        auto read = [&] {
            out.clear();
            std::istringstream in(readFile(m_demo.logDir() + "/" + name + ".log"));
            for (std::string line; std::getline(in, line);) {
                Args f;
                std::istringstream fields(line);
                for (std::string field; std::getline(fields, field, '\t');)
                    f.push_back(field);
                if (f.size() >= 3)
                    out.emplace_back(f.begin() + 1, f.end()); // after the process id
            }
            return out.size() >= count;
        };
        // Generous: the stand-ins are separate processes on a loaded machine.
        EXPECT_TRUE(QTest::qWaitFor(read, 20000)) << name << " started " << out.size() << " times";
        return out;
    }

    ScopedEnv m_path{"PATH", (kData + "/bin:" + qgetenv("PATH").toStdString()).c_str()};
    ScopedEnv m_logs{"STANDIN_LOGS", m_demo.logDir().c_str()};
};

// Each tool twice: the second start, told the remote machine, ends the first
// start of that tool only.
TEST_F(Tools, EachToolRunsInTheAdminFolderIsToldTheRemoteMachineAndRunsOnce)
{
    const struct
    {
        int id;
        const char *valueName;
        const char *standIn;
    } tools[] = {{ID_TOOL_ADMIN, "AdminCommand", "hostctl-hold.sh"},
                 {ID_TOOL_LEXMILL, "IndexCommand", "lexmill-hold.sh"},
                 {ID_TOOL_AREAPAD, "AreapadCommand", "areapad-hold.sh"},
                 {ID_TOOL_NUMBREL, "StatsCommand", "numbrel-hold.sh"}};
    std::vector<pid_t> running;
    for (const auto &t : tools) {
        const std::string program = standIn(std::string("bin/") + t.standIn);
        WriteString(*ProgramKey, t.valueName, program);
        StartTool(t.id);
        starts(t.standIn); // recorded before the second start ends it
        const pid_t first = ToolProcess(t.id).pid();
        remoteRegistryMachine = "far away";
        StartTool(t.id);
        remoteRegistryMachine.reset();
        EXPECT_EQ(starts(t.standIn, 2),
                  (std::vector<Args>{{root() + "/admin", program},
                                     {root() + "/admin", program, "-r", "far away"}}));
        EXPECT_TRUE(processGone(first)); // ended and collected before the second ran
        EXPECT_TRUE(ToolProcess(t.id).running());
        running.push_back(ToolProcess(t.id).pid());
    }
    for (pid_t pid : running)
        EXPECT_FALSE(processGone(pid));
}

// The demo's HTML wizards: Blank Page by a name in the wizards folder,
// Product Page by its full path.
TEST_F(Tools, TheWizardsCommandMakesTheFoldersThenStartsTheChosenWizard)
{
    MessageBox::setAutoAnswer(QMessageBox::Ok);
    const std::string blank = standIn("wizards/blank-page.sh");
    const std::string product = standIn("wizards/product-page.sh");
    std::unique_ptr<SiteNode, void (*)(SiteNode *)> node(CreateNode(), FreeNode);
    node->localPath = (root() + "/site/new/deeper/page.html").c_str();
    node->mimeType = "text/html";
    node->flags = BROKEN;
    auto choose = [](int row) {
        onNextDialog([row](QDialog *d) {
            child<QListWidget>(d, "listWizards")->setCurrentRow(row);
            QTest::mouseClick(child<QPushButton>(d, "buttonOk"), Qt::LeftButton);
        });
    };
    remoteRegistryMachine = "far";
    choose(0);
    RunWizardsCommand(*node, nullptr);
    EXPECT_TRUE(std::filesystem::is_directory(root() + "/site/new/deeper"));
    EXPECT_EQ(starts("blank-page.sh").at(0),
              (Args{root() + "/wizards", blank, "-r", "far", node->localPath.str()}));
    choose(1);
    RunWizardsCommand(*node, nullptr);
    EXPECT_EQ(starts("product-page.sh").at(0)[1], product);
    EXPECT_EQ(MessageBox::count(), 0);
}

// A missing page made by the demo's Blank Page wizard from New Document.
TEST_F(Tools, AMissingPageMadeByAWizardIsNoLongerBrokenAfterARefresh)
{
    start();
    CTreeRow *row = openDown({"/products/", "/products/anemometer.html"});
    ASSERT_TRUE(row && row->node->flags & BROKEN);
    const std::string page = m_demo.page("products/anemometer.html");

    // The wizard controls follow the choice of the two radios.
    std::vector<bool> partsOn;
    onNextDialog([&](QDialog *d) {
        for (const char *radio : {"", "radioUseWizard", "radioAskEditor", "radioUseWizard"}) {
            if (*radio)
                QTest::mouseClick(child<QRadioButton>(d, radio), Qt::LeftButton);
            for (const char *name :
                 {"labelWizard", "listWizards", "groupDescription", "labelDescription"})
                partsOn.push_back(child(d, name)->isEnabled());
        }
        EXPECT_EQ(child<QListWidget>(d, "listWizards")->currentItem()->text(),
                  QStringLiteral("Blank Page"));
        QTest::mouseClick(child<QPushButton>(d, "buttonOk"), Qt::LeftButton);
    });
    trigger("actionFileOpen");
    EXPECT_EQ(partsOn, (std::vector<bool>{false, false, false, false, true, true, true, true, false,
                                          false, false, false, true, true, true, true}));
    // The demo's wizard writes the page from the server's wizards folder.
    ASSERT_TRUE(QTest::qWaitFor([&] { return readFile(page).find("</html>") != std::string::npos; },
                                20000));
    EXPECT_NE(readFile(page).find("<title>anemometer</title>"), std::string::npos);

    trigger("actionViewRefresh");
    CTreeRow *again = openDown({"/products/", "/products/anemometer.html"});
    ASSERT_TRUE(again);
    EXPECT_FALSE(again->node->flags & BROKEN);
}

TEST(ToolsText, CommandFormatting)
{
    const struct
    {
        const char *format;
        const char *path;
        Args words;
    } cases[] = {
        {"wiz %s", "/a b/c.html", {"wiz", "/a b/c.html"}},
        {"\"my wiz\" %s %s", "/p", {"my wiz", "/p"}},
        {"wiz --out=%s 100%% %s", "/p", {"wiz", "--out=/p", "100%"}},
        {"wiz", "/p", {"wiz"}},
        {"", "/p", {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FormatCommand(CommandWords(c.format), c.path), c.words) << c.format;
}
