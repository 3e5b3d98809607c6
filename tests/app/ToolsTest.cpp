#include "app/Tools.h"
#include "app/MessageBox.h"
#include "model/SiteNode.h"
#include "tests/app/ToolsFixture.h"

#include <QListWidget>
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

} // namespace

using Tools = ToolsFixture;

TEST_F(Tools, EachToolRunsInTheAdminFolderAndIsToldTheRemoteMachine)
{
    for (const ToolCase &t : kToolCases) {
        const std::string program = standIn(std::string("bin/") + t.standIn);
        WriteString(*ProgramKey, t.valueName, program);
        StartTool(t.id);
        starts(t.standIn); // a second start would end it before it tells
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
        EXPECT_EQ(s[1].args, (std::vector<std::string>{"-r", "far away"}));
    }

    // Without a value, the default program in the admin folder; a value with
    // arguments keeps them before "-r".
    ProgramKey->deleteValue("StatsCommand");
    standIn("admin/numbrel.exe");
    StartTool(ID_TOOL_NUMBREL);
    EXPECT_EQ(starts("numbrel.exe").at(0).program, "numbrel.exe");
    WriteString(*ProgramKey, "IndexCommand", "\"" + standIn("bin/lex mill.sh") + "\" --all");
    remoteRegistryMachine = "m1";
    StartTool(ID_TOOL_LEXMILL);
    EXPECT_EQ(starts("lex mill.sh").at(0).args, (std::vector<std::string>{"--all", "-r", "m1"}));
}

TEST_F(Tools, ASecondStartEndsTheFirstAndOnlyThatTool)
{
    WriteString(*ProgramKey, "AreapadCommand", standIn("bin/areapad.sh", true));
    WriteString(*ProgramKey, "IndexCommand", standIn("bin/lexmill.sh", true));
    StartTool(ID_TOOL_AREAPAD);
    const pid_t first = starts("areapad.sh").at(0).pid;
    StartTool(ID_TOOL_LEXMILL);
    const pid_t lexmill = starts("lexmill.sh").at(0).pid;
    EXPECT_FALSE(processGone(first)) << "starting Lexmill ended the image-map editor";

    StartTool(ID_TOOL_AREAPAD);
    const std::vector<StartRecord> s = starts("areapad.sh", 2);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_TRUE(processGone(first)); // ended and collected before the second ran
    EXPECT_FALSE(processGone(s[1].pid));
    EXPECT_TRUE(ToolProcess(ID_TOOL_AREAPAD).running());
    EXPECT_FALSE(processGone(lexmill));
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
        std::string name, program;
        std::vector<std::string> args;
    } cases[] = {
        {"page.sh %s", std::nullopt, "page.sh", relative, {doc}},
        {"page.sh %s", "far", "page.sh", relative, {"-r", "far", doc}},
        {"page.sh --out=%s --keep",
         "far",
         "page.sh",
         relative,
         {"-r", "far", "--out=" + doc, "--keep"}},
        {"\"" + absolute + "\" %s", std::nullopt, "page wizard.sh", absolute, {doc}},
        {"\"" + absolute + "\" %s", "m", "page wizard.sh", absolute, {"-r", "m", doc}},
    };
    size_t seen[2] = {0, 0};
    for (const Case &c : cases) {
        remoteRegistryMachine = c.machine;
        LaunchWizard(c.format, doc);
        const size_t n = ++seen[c.program == absolute];
        const std::vector<StartRecord> s = starts(c.name, n);
        ASSERT_EQ(s.size(), n) << c.format;
        EXPECT_EQ(s.back().program, c.program) << c.format;
        EXPECT_EQ(s.back().folder, m_root / "wizards") << c.format;
        EXPECT_EQ(s.back().args, c.args) << c.format;
    }
}

TEST_F(Tools, FoldersOfANewDocumentAreMadeLevelByLevel)
{
    const std::string deep = m_root / "site/a/b/c";
    EXPECT_EQ(MakeDirectories(deep), 0);
    EXPECT_TRUE(std::filesystem::is_directory(deep));
    EXPECT_EQ(MakeDirectories(deep), 0); // there already
    EXPECT_TRUE(MakeDocumentFolder(m_root / "site/x/y/page.html", nullptr));
    EXPECT_TRUE(std::filesystem::is_directory(m_root / "site/x/y"));
    EXPECT_FALSE(std::filesystem::exists(m_root / "site/x/y/page.html"));
    EXPECT_EQ(MessageBox::count(), 0);

    // A file where a folder should be: the user is told, nothing is made.
    m_root.write("site/file", "text");
    EXPECT_NE(MakeDirectories(m_root / "site/file/sub/deeper"), 0);
    MessageBox::setAutoAnswer(QMessageBox::Ok);
    EXPECT_FALSE(MakeDocumentFolder(m_root / "site/file/sub/page.html", nullptr));
    ASSERT_TRUE(MessageBox::last());
    EXPECT_EQ(MessageBox::last()->text, QStringLiteral("Problem creating directory"));
    EXPECT_EQ(MessageBox::last()->caption, QStringLiteral("Open Error"));
    EXPECT_EQ(MessageBox::last()->icon, QMessageBox::Critical);
}

TEST_F(Tools, TheWizardsCommandMakesTheFoldersThenStartsTheChosenWizard)
{
    standIn("wizards/blank-page.sh");
    std::unique_ptr<SiteNode, void (*)(SiteNode *)> made(CreateNode(), FreeNode);
    SiteNode &node = *made;
    node.localPath = (m_root / "site/new/deeper/page.html").c_str();
    node.mimeType = "text/html";
    node.flags = BROKEN;
    onNextDialog([](QDialog *d) {
        auto *list = d->findChild<QListWidget *>(QStringLiteral("listWizards"));
        EXPECT_EQ(list->currentItem()->text(), QStringLiteral("Blank Page"));
        QTest::mouseClick(d->findChild<QPushButton *>(QStringLiteral("buttonOk")), Qt::LeftButton);
    });
    RunWizardsCommand(node, nullptr);
    EXPECT_TRUE(std::filesystem::is_directory(m_root / "site/new/deeper"));
    const StartRecord r = starts("blank-page.sh").at(0);
    EXPECT_EQ(r.args, std::vector<std::string>{node.localPath.str()});
    EXPECT_EQ(r.folder, m_root / "wizards");

    // A type nobody registered wizards for: the dialog is never seen.
    node.mimeType = "image/x-xbitmap";
    MessageBox::setAutoAnswer(QMessageBox::Ok);
    RunWizardsCommand(node, nullptr);
    ASSERT_TRUE(MessageBox::last());
    EXPECT_EQ(
        MessageBox::last()->text,
        QStringLiteral("There are no wizards associated with the document type image/x-xbitmap"));
    EXPECT_EQ(MessageBox::last()->caption, QStringLiteral("Wizards"));
}

TEST_F(Tools, ToolsStartWithNoTreeWindowOpen)
{
    const std::string program = standIn("bin/numbrel.sh");
    WriteString(*ProgramKey, "StatsCommand", program);
    start();
    frame()->mdiArea()->closeAllSubWindows();
    ASSERT_EQ(windowCount(), 0);
    remoteRegistryMachine = "far";
    for (const ToolCase &t : kToolCases)
        EXPECT_TRUE(enabled(t.action)) << t.action;
    trigger("actionToolsNumbrel");
    const StartRecord r = starts("numbrel.sh").at(0);
    EXPECT_EQ(r.folder, m_root / "admin");
    EXPECT_EQ(r.args, (std::vector<std::string>{"-r", "far"}));
}

TEST(ToolsText, CommandFormatting)
{
    struct Case
    {
        const char *format;
        const char *path;
        std::vector<std::string> words;
    } cases[] = {
        {"wiz %s", "/a b/c.html", {"wiz", "/a b/c.html"}},
        {"wiz --out=%s -q", "/p", {"wiz", "--out=/p", "-q"}},
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
