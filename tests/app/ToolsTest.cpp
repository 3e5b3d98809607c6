// The companion programs: the tools, the wizards, the browser and the
// desktop's association tools, each a stand-in that records how it was
// started, with a copy of the demo's server root.

#include "app/Tools.h"
#include "app/CommandLine.h"
#include "dialogs/HelpWindow.h"
#include "resources/CommandTable.h"
#include "tests/app/AppFixture.h"
#include "tests/support/GuiTest.h"
#include "tests/support/ScopedEnv.h"

#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <filesystem>
#include <sstream>

using namespace sylvix;
using namespace sylvix::test;
using std::filesystem::exists;
using Args = std::vector<std::string>;

namespace {

struct StartRecord
{
    pid_t pid = 0;
    Args run; // the folder, the path the program was run from, its arguments
    Args args() const { return {run.begin() + 2, run.end()}; }
};

bool processGone(pid_t pid)
{
    return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
}

} // namespace

const std::string kData = std::string(SYLVIX_SOURCE_DIR) + "/tests/app/data";

// The programs are copies of data/standin.sh; the desktop's association tools
// and the editor its desktop entry names are stand-ins in data/bin.
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
        BrowserProcess().Terminate();
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

    // The starts recorded for a stand-in, once there are at least count.
    std::vector<StartRecord> starts(const std::string &name, size_t count = 1) const
    {
        std::vector<StartRecord> out;
        auto read = [&] {
            out.clear();
            std::istringstream in(readFile(m_demo.logDir() + "/" + name + ".log"));
            for (std::string line; std::getline(in, line);) {
                Args f;
                std::istringstream fields(line);
                for (std::string field; std::getline(fields, field, '\t');)
                    f.push_back(field);
                if (f.size() >= 3)
                    out.push_back({std::atoi(f[0].c_str()), {f.begin() + 1, f.end()}});
            }
            return out.size() >= count;
        };
        // Generous: the stand-ins are separate processes on a loaded machine.
        EXPECT_TRUE(QTest::qWaitFor(read, 20000)) << name << " started " << out.size() << " times";
        return out;
    }

    // Whether the desktop names a default editor, and how xdg-open ends.
    static void setAssociations(bool editor, int openCode)
    {
        ::setenv("STANDIN_EDITOR", editor ? "standin-editor.desktop" : "", 1);
        ::setenv("STANDIN_EXIT", std::to_string(openCode).c_str(), 1);
    }

    ScopedEnv m_path{"PATH", (kData + "/bin:" + qgetenv("PATH").toStdString()).c_str()};
    ScopedEnv m_dataHome{"XDG_DATA_HOME", kData.c_str()};
    ScopedEnv m_dataDirs{"XDG_DATA_DIRS", "/nonexistent"};
    ScopedEnv m_logs{"STANDIN_LOGS", m_demo.logDir().c_str()};
    ScopedEnv m_editor{"STANDIN_EDITOR", nullptr};
    ScopedEnv m_exit{"STANDIN_EXIT", nullptr};
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
        const pid_t first = starts(t.standIn).at(0).pid;
        remoteRegistryMachine = "far away";
        StartTool(t.id);
        remoteRegistryMachine.reset();
        const std::vector<StartRecord> s = starts(t.standIn, 2);
        ASSERT_EQ(s.size(), 2u) << t.standIn;
        EXPECT_EQ(s[0].run, (Args{root() + "/admin", program}));
        EXPECT_EQ(s[1].run, (Args{root() + "/admin", program, "-r", "far away"}));
        EXPECT_TRUE(processGone(first)); // ended and collected before the second ran
        EXPECT_TRUE(ToolProcess(t.id).running());
        running.push_back(s[1].pid);
    }
    for (pid_t pid : running)
        EXPECT_FALSE(processGone(pid));

    // Without a value, the default program in the admin folder; a value with
    // arguments keeps them before "-r".
    ProgramKey->deleteValue("StatsCommand");
    standIn("admin/numbrel.exe");
    StartTool(ID_TOOL_NUMBREL);
    EXPECT_EQ(starts("numbrel.exe").at(0).run[1], "numbrel.exe");
    WriteString(*ProgramKey, "IndexCommand", "\"" + standIn("bin/lex mill.sh") + "\" --all");
    remoteRegistryMachine = "m1";
    StartTool(ID_TOOL_LEXMILL);
    EXPECT_EQ(starts("lex mill.sh").at(0).args(), (Args{"--all", "-r", "m1"}));
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
    EXPECT_FALSE(exists(node->localPath.str())); // the wizard's to write
    EXPECT_EQ(starts("blank-page.sh").at(0).run,
              (Args{root() + "/wizards", blank, "-r", "far", node->localPath.str()}));
    choose(1);
    RunWizardsCommand(*node, nullptr);
    EXPECT_EQ(starts("product-page.sh").at(0).run[1], product);
    EXPECT_EQ(MessageBox::count(), 0);

    // A file where a folder should be: the user is told, no wizard runs.
    m_demo.write("site/file", "text");
    node->localPath = (root() + "/site/file/sub/page.html").c_str();
    choose(0);
    RunWizardsCommand(*node, nullptr);
    expectBox("Problem creating directory", QStringLiteral("Open Error"));

    // A type nobody registered wizards for: the dialog is never seen.
    node->mimeType = "image/x-xbitmap";
    RunWizardsCommand(*node, nullptr);
    expectBox("There are no wizards associated with the document type image/x-xbitmap",
              QStringLiteral("Wizards"), QMessageBox::NoIcon);
    EXPECT_EQ(starts("blank-page.sh").size(), 1u);
}

// Open, Browser Preview and the image map editor from the tree window, then
// the frame's commands once no tree window is left.
TEST_F(Tools, OpeningDocumentsAndTheFrameWithNoTreeWindow)
{
    const std::string browser = standIn("bin/browser-hold.sh");
    WriteString(*ProgramKey, "BrowserCommand", browser);
    const std::string areapad = standIn("bin/areapad.sh");
    WriteString(*ProgramKey, "AreapadCommand", areapad);
    WriteString(*ProgramKey, "StatsCommand", standIn("bin/numbrel.sh"));
    start();
    trigger("actionFileBrowserPreview");
    const pid_t first = starts("browser-hold.sh").at(0).pid;
    trigger("actionFileBrowserPreview");
    const std::vector<StartRecord> previews = starts("browser-hold.sh", 2);
    ASSERT_EQ(previews.size(), 2u);
    EXPECT_TRUE(processGone(first));
    EXPECT_FALSE(processGone(previews[1].pid));
    EXPECT_EQ(previews[1].run, (Args{root(), browser, "http://localhost/"}));

    // An existing document goes to the desktop's editor, else to xdg-open;
    // the user is told once xdg-open has given up.
    const std::string path = list()->RowAt(0)->node->localPath.str();
    ASSERT_EQ(path, m_demo.page("index.html"));
    setAssociations(true, 0);
    QTest::keyClick(list(), Qt::Key_Return);
    EXPECT_EQ(starts("editor.sh").at(0).args(), (Args{"--edit", path}));
    setAssociations(false, 0);
    trigger("actionFileOpen");
    EXPECT_EQ(starts("xdg-open").at(0).args(), Args{path});
    EXPECT_EQ(MessageBox::count(), 0);
    setAssociations(false, 3);
    MessageBox::setAutoAnswer(QMessageBox::Ok);
    trigger("actionFileOpen");
    ASSERT_TRUE(QTest::qWaitFor([] { return MessageBox::last().has_value(); }, 20000));
    EXPECT_EQ(starts("xdg-open", 2).size(), 2u);
    expectBox("Sylvix cannot invoke an association for this file", QString::fromStdString(path));

    // A missing document of a type without wizards is made empty for the
    // editor, with no dialog to answer.
    setAssociations(false, 0);
    ASSERT_TRUE(openDown({"/about.html", "/images/workshop.jpg"}));
    ASSERT_TRUE(list()->SelectedRow()->node->flags & BROKEN);
    const std::string picture = m_demo.page("images/workshop.jpg");
    trigger("actionFileOpen");
    EXPECT_TRUE(exists(picture) && readFile(picture).empty());
    EXPECT_EQ(starts("xdg-open", 3).at(2).args(), Args{picture});

    // The image map editor runs from the server root, told the map's name.
    const CTreeRow *map = openDown({"/~imagemap/nav"});
    ASSERT_TRUE(map && map->node->kind == ImageMap);
    remoteRegistryMachine = "far";
    trigger("actionFileOpen");
    EXPECT_EQ(starts("areapad.sh").at(0).run, (Args{root(), areapad, "-r", "far", "nav"}));
    remoteRegistryMachine.reset();

    frame()->mdiArea()->closeAllSubWindows();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(windowCount(), 0);
    EXPECT_EQ(frame()->menuBar()->actions().size(), qsizetype(MainMenu().size()));
    // The frame's own commands stay; those the tree window answers go grey.
    for (const char *on : {"actionFileNewTree", "actionHelpAbout", "actionFileExit",
                           "actionViewToolbar", "actionToolsNumbrel"})
        EXPECT_TRUE(enabled(on)) << on;
    for (const char *off : {"actionFileOpen", "actionViewHyperlink", "actionWindowNew"})
        EXPECT_FALSE(enabled(off)) << off;
    EXPECT_TRUE(action("actionViewToolbar")->isChecked());
    trigger("actionToolsNumbrel");
    EXPECT_EQ(starts("numbrel.sh").at(0).run[0], root() + "/admin");
    // With no tree window the frame's help keywords apply.
    trigger("actionHelpKeys");
    ASSERT_TRUE(HelpWindow::instance());
    EXPECT_EQ(HelpWindow::instance()->source(), HelpPageFor(QStringLiteral("keyboard")));
    trigger("actionHelpContents");
    EXPECT_EQ(HelpWindow::instance()->source(), HelpPageFor(QStringLiteral("contents")));
}

// A missing page made by the demo's Blank Page wizard from New Document.
TEST_F(Tools, AMissingPageMadeByAWizardIsNoLongerBrokenAfterARefresh)
{
    start();
    EXPECT_EQ(frame()->menuBar()->actions().size(), qsizetype(TreeMenu().size()));
    CTreeRow *row = openDown({"/products/", "/products/anemometer.html"});
    ASSERT_TRUE(row && row->node->flags & BROKEN);
    const std::string page = m_demo.page("products/anemometer.html");

    // Cancel makes nothing.
    onNextDialog([](QDialog *d) { d->reject(); });
    trigger("actionFileOpen");
    EXPECT_FALSE(exists(page));

    // The wizard controls follow the choice of the two radios.
    std::vector<bool> partsOn;
    onNextDialog([&](QDialog *d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("New Document"));
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
        {"wiz %s", "", {"wiz"}},
        {"wiz %", "/p", {"wiz", "%"}},
        {"", "/p", {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FormatCommand(CommandWords(c.format), c.path), c.words) << c.format;

    const struct
    {
        std::string in, out;
    } cuts[]
        = {{"/srv/", "/srv"}, {"C:\\srv\\", "C:\\srv"}, {"/srv", "/srv"}, {"//", "/"}, {"", ""}};
    for (auto c : cuts)
        EXPECT_EQ(CutTrailingSeparator(c.in), c.out);
}
