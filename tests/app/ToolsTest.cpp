#include "app/Tools.h"
#include "app/MessageBox.h"
#include "dialogs/HelpWindow.h"
#include "model/SiteNode.h"
#include "tests/app/ToolsFixture.h"

#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>

using namespace sylvix;
using namespace sylvix::test;

namespace {

struct ToolCase
{
    int id;
    const char *valueName;
    const char *standIn;
    const char *action;
};

constexpr ToolCase kToolCases[] = {
    {ID_TOOL_ADMIN, "AdminCommand", "hostctl.sh", "actionToolsServerAdmin"},
    {ID_TOOL_LEXMILL, "IndexCommand", "lexmill.sh", "actionToolsLexmill"},
    {ID_TOOL_AREAPAD, "AreapadCommand", "areapad.sh", "actionToolsImageMapEditor"},
    {ID_TOOL_NUMBREL, "StatsCommand", "numbrel.sh", "actionToolsNumbrel"},
};

using Args = std::vector<std::string>;

} // namespace

using Tools = ToolsFixture;

// Each tool twice: the second start, told the remote machine, ends the first
// start of that tool only.
TEST_F(Tools, EachToolRunsInTheAdminFolderIsToldTheRemoteMachineAndRunsOnce)
{
    std::vector<pid_t> running;
    for (const ToolCase &t : kToolCases) {
        const std::string program = standIn(std::string("bin/") + t.standIn, true);
        WriteString(*ProgramKey, t.valueName, program);
        StartTool(t.id);
        const pid_t first = starts(t.standIn).at(0).pid;
        for (pid_t other : running)
            EXPECT_FALSE(processGone(other)) << t.standIn << " ended another tool";
        remoteRegistryMachine = "far away";
        StartTool(t.id);
        remoteRegistryMachine.reset();
        const std::vector<StartRecord> s = starts(t.standIn, 2);
        ASSERT_EQ(s.size(), 2u) << t.standIn;
        for (const StartRecord &r : s) {
            EXPECT_EQ(r.folder, m_root / "admin");
            EXPECT_EQ(r.program, program);
        }
        EXPECT_TRUE(s[0].args.empty());
        EXPECT_EQ(s[1].args, (Args{"-r", "far away"}));
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
    EXPECT_EQ(starts("numbrel.exe").at(0).program, "numbrel.exe");
    WriteString(*ProgramKey, "IndexCommand", "\"" + standIn("bin/lex mill.sh") + "\" --all");
    remoteRegistryMachine = "m1";
    StartTool(ID_TOOL_LEXMILL);
    EXPECT_EQ(starts("lex mill.sh").at(0).args, (Args{"--all", "-r", "m1"}));
}

TEST_F(Tools, WizardCommandLines)
{
    const std::string doc = m_root / "site/new page.html";
    const std::string relative = standIn("wizards/page.sh");
    const std::string absolute = standIn("elsewhere/page wizard.sh");
    struct Case
    {
        std::string format;
        std::optional<std::string> machine;
        std::string program;
        Args args;
    } cases[] = {
        {"page.sh --out=%s --keep", "far", relative, {"-r", "far", "--out=" + doc, "--keep"}},
        {"\"" + absolute + "\" %s", "m", absolute, {"-r", "m", doc}},
    };
    size_t seen[2] = {0, 0};
    for (const Case &c : cases) {
        remoteRegistryMachine = c.machine;
        LaunchWizard(c.format, doc);
        const size_t n = ++seen[c.program == absolute];
        const std::vector<StartRecord> s = starts(std::filesystem::path(c.program).filename(), n);
        ASSERT_EQ(s.size(), n) << c.format;
        EXPECT_EQ(s.back().program, c.program) << c.format;
        EXPECT_EQ(s.back().folder, m_root / "wizards") << c.format;
        EXPECT_EQ(s.back().args, c.args) << c.format;
    }
}

TEST_F(Tools, TheWizardsCommandMakesTheFoldersThenStartsTheChosenWizard)
{
    MessageBox::setAutoAnswer(QMessageBox::Ok);
    standIn("wizards/blank-page.sh");
    std::unique_ptr<SiteNode, void (*)(SiteNode *)> made(CreateNode(), FreeNode);
    SiteNode &node = *made;
    node.localPath = (m_root / "site/new/deeper/page.html").c_str();
    node.mimeType = "text/html";
    node.flags = BROKEN;
    auto chooseFirst = [](QDialog *d) {
        auto *list = d->findChild<QListWidget *>(QStringLiteral("listWizards"));
        EXPECT_EQ(list->currentItem()->text(), QStringLiteral("Blank Page"));
        QTest::mouseClick(d->findChild<QPushButton *>(QStringLiteral("buttonOk")), Qt::LeftButton);
    };
    onNextDialog(chooseFirst);
    RunWizardsCommand(node, nullptr);
    EXPECT_TRUE(std::filesystem::is_directory(m_root / "site/new/deeper"));
    EXPECT_FALSE(std::filesystem::exists(node.localPath.str())); // the wizard's to write
    const StartRecord r = starts("blank-page.sh").at(0);
    EXPECT_EQ(r.args, Args{node.localPath.str()});
    EXPECT_EQ(r.folder, m_root / "wizards");
    EXPECT_EQ(MessageBox::count(), 0);

    // A file where a folder should be: the user is told, no wizard runs.
    m_root.write("site/file", "text");
    node.localPath = (m_root / "site/file/sub/page.html").c_str();
    onNextDialog(chooseFirst);
    RunWizardsCommand(node, nullptr);
    ASSERT_TRUE(MessageBox::last());
    EXPECT_EQ(MessageBox::last()->text, QStringLiteral("Problem creating directory"));
    EXPECT_EQ(MessageBox::last()->caption, QStringLiteral("Open Error"));
    EXPECT_EQ(MessageBox::last()->icon, QMessageBox::Critical);

    // A type nobody registered wizards for: the dialog is never seen.
    node.mimeType = "image/x-xbitmap";
    RunWizardsCommand(node, nullptr);
    EXPECT_EQ(
        MessageBox::last()->text,
        QStringLiteral("There are no wizards associated with the document type image/x-xbitmap"));
    EXPECT_EQ(MessageBox::last()->caption, QStringLiteral("Wizards"));
    EXPECT_EQ(starts("blank-page.sh").size(), 1u);
}

TEST_F(Tools, CommandsAndToolsWithNoTreeWindow)
{
    const std::string program = standIn("bin/numbrel.sh");
    WriteString(*ProgramKey, "StatsCommand", program);
    start();
    EXPECT_EQ(frame()->menuBar()->actions().size(), qsizetype(TreeMenu().size()));
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

    remoteRegistryMachine = "far";
    trigger("actionToolsNumbrel");
    const StartRecord r = starts("numbrel.sh").at(0);
    EXPECT_EQ(r.folder, m_root / "admin");
    EXPECT_EQ(r.args, (Args{"-r", "far"}));

    // With no tree window the frame's help keywords apply.
    trigger("actionHelpKeys");
    ASSERT_TRUE(HelpWindow::instance());
    EXPECT_EQ(HelpWindow::instance()->source(), HelpPageFor(QStringLiteral("keyboard")));
    trigger("actionHelpContents");
    EXPECT_EQ(HelpWindow::instance()->source(), HelpPageFor(QStringLiteral("contents")));
}

TEST(ToolsText, CommandFormatting)
{
    struct Case
    {
        const char *format;
        const char *path;
        Args words;
    } cases[] = {
        {"wiz %s", "/a b/c.html", {"wiz", "/a b/c.html"}},
        {"\"my wiz\" %s %s", "/p", {"my wiz", "/p"}},
        {"wiz 100%% %s", "/p", {"wiz", "100%", "/p"}},
        {"wiz", "/p", {"wiz"}},
        {"wiz %s", "", {"wiz"}},
        {"wiz %", "/p", {"wiz", "%"}},
        {"", "/p", {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FormatCommand(CommandWords(c.format), c.path), c.words) << c.format;

    struct Cut
    {
        std::string in, out;
    } cuts[]
        = {{"/srv/", "/srv"}, {"C:\\srv\\", "C:\\srv"}, {"/srv", "/srv"}, {"//", "/"}, {"", ""}};
    for (Cut c : cuts)
        EXPECT_EQ(CutTrailingSeparator(c.in), c.out);
}
