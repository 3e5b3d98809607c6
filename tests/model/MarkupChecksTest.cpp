#include "ModelFixture.h"

#include "model/Expand.h"
#include "model/Page.h"

#include <fcntl.h>
#include <sys/stat.h>

using namespace sylvix;
using namespace sylvix::test;

namespace {

void setTime(const std::string &path, time_t sec, long nsec)
{
    struct timespec t[2] = {{sec, nsec}, {sec, nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
}

class Checks : public ServerFixture
{
protected:
    void TearDown() override
    {
        SetMarkupChecks(MarkupChecks::AtOnce);
        ServerFixture::TearDown();
    }
};

} // namespace

TEST_F(Checks, FirstReadGivesWhatAnAtOnceCheckGives)
{
    const char *bodies[] = {
        "<html><head><title>clean</title></head><body><p>fine</p></body></html>",
        "<p><b>unclosed <i>markup</p><a href=x.html>x",
        "<table><tr><td>cell</table><font color=red>old</font>",
        "<html><body><img src=a.gif><p>no alt</body>",
    };
    std::string index;
    for (int i = 0; i < 12; ++i) {
        doc("p" + std::to_string(i) + ".html", bodies[i % 4]);
        index += "<a href=p" + std::to_string(i) + ".html>p</a>";
    }
    doc("index.html", index + "<a href=p3.html>again</a><img src=missing.gif>");

    auto expandAll = [&](MarkupChecks mode, bool &allPending) {
        SetMarkupChecks(mode);
        SiteNode *root = CreateRootNode("http://www.example.org/index.html");
        TreeGuard guard{root};
        allPending = true;
        for (SiteNode *c = root->firstChild(); c; c = c->nextSibling())
            if (NeedsReload(c) == ReloadResult::Expand) {
                ExpandNode(c);
                if (c->kind == Html && !c->equivalent)
                    allPending = allPending && c->diagnostics.pending();
            }
        std::vector<DiagnosticList> out;
        for (SiteNode *c = root->firstChild(); c; c = c->nextSibling()) {
            out.push_back(c->diagnostics ? *c->diagnostics : DiagnosticList());
            EXPECT_FALSE(c->diagnostics.outOfDate());
        }
        return out;
    };
    bool pending = false;
    std::vector<DiagnosticList> atOnce = expandAll(MarkupChecks::AtOnce, pending);
    EXPECT_FALSE(pending);
    std::vector<DiagnosticList> later = expandAll(MarkupChecks::OnFirstRead, pending);
    EXPECT_TRUE(pending);
    EXPECT_EQ(later, atOnce);
    size_t withMessages = 0;
    for (const auto &list : atOnce)
        withMessages += !list.empty();
    EXPECT_GE(withMessages, 6u);
}

// Two saves within one second: the second still counts as a change, and a
// check wanted after it does not report on bytes that were never parsed.
TEST_F(Checks, AFileChangedBeforeItsCheckIsOutOfDate)
{
    SetMarkupChecks(MarkupChecks::OnFirstRead);
    std::string path = doc("a.html", "<p><b>first version");
    setTime(path, 1700000000, 100);
    SiteNode *root = CreateRootNode("http://www.example.org/a.html");
    TreeGuard guard{root};
    ASSERT_TRUE(root->diagnostics.pending());

    doc("a.html", "<table><tr><td>second version, other faults");
    setTime(path, 1700000000, 200);
    EXPECT_TRUE(root->diagnostics.outOfDate());
    EXPECT_FALSE(root->hasDiagnostics());

    ASSERT_EQ(NeedsReload(root), ReloadResult::Expand);
    ExpandNode(root);
    EXPECT_FALSE(root->diagnostics.outOfDate());
    ASSERT_TRUE(root->hasDiagnostics());
    EXPECT_EQ(*root->diagnostics, ParsePageFile(path).diagnostics);
    EXPECT_EQ(NeedsReload(root), ReloadResult::NothingToDo); // nothing changed since
}
