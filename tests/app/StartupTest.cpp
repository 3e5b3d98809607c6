#include "app/CommandLine.h"
#include "app/NewTreeDialog.h"
#include "model/Notify.h"
#include "tests/app/AppFixture.h"
#include "tests/support/ScriptServer.h"

#include <QDeadlineTimer>
#include <QTest>

#include <thread>

using namespace sylvix;
using namespace sylvix::test;

using Startup = AppFixture;

TEST_F(Startup, FatalErrorsEndWithCodeOneAndSayWhy)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct
    {
        std::vector<const char *> args;
        const char *message;
    } cases[] = {
        {{"sylvix", "http://localhost/", "-r"}, "No remote server registry supplied for -r switch"},
        {{"sylvix", "-r", "gale", "http://localhost/"},
         "Error connecting to remote server registry"},
        {{"sylvix", "http://localhost/no-such-page.html"},
         "Can't interpret URL\n'http://localhost/no-such-page.html'"},
    };
    for (const auto &c : cases) {
        EXPECT_EXIT(
            {
                MessageBox::setAutoAnswer(QMessageBox::Ok);
                start(c.args);
            },
            ::testing::ExitedWithCode(1), std::string("sylvix: ") + c.message)
            << c.message;
    }
}

// The banner comes only without arguments and goes at the first key, the
// first click or after two and a half seconds.
TEST_F(Startup, Banner)
{
    for (int way = 0; way < 3; ++way) {
        const QDeadlineTimer young(2500);
        start({"sylvix"});
        ASSERT_TRUE(m_app->banner());
        EXPECT_TRUE(m_app->banner()->isVisible());
        if (way == 0)
            QTest::keyClick(frame(), Qt::Key_Shift);
        else if (way == 1)
            QTest::mouseClick(frame()->mdiArea(), Qt::RightButton);
        // The age is the behaviour here; the upper bound is generous for a loaded machine.
        EXPECT_TRUE(QTest::qWaitFor([this] { return !m_app->banner(); }, way == 2 ? 15000 : 0));
        EXPECT_TRUE(way < 2 || young.hasExpired());
        m_app.reset();
    }
}

// The status pane's rules, New Tree opening windows or saying why, and the
// commands left once no tree window is open.
TEST_F(Startup, StatusTextAndNewTree)
{
    start();
    EXPECT_FALSE(m_app->banner()); // not when a URL is given
    // The first tree was parsed during start-up, before the user-interface
    // thread was recorded: none of its progress texts reached the pane.
    EXPECT_EQ(frame()->statusText(), QStringLiteral("Norvane Sylvix"));
    ShowStatusText("Parsing index.html...");
    std::thread([] { ShowStatusText("from a worker"); }).join(); // not the pane's thread
    EXPECT_EQ(frame()->statusText(), QStringLiteral("Parsing index.html..."));

    // An empty URL: another window on the first tree, with its own copy.
    CNewTreeDialog::setNextAnswer(true, QString());
    trigger("actionFileNewTree");
    ASSERT_TRUE(firstTreeRoot && windowCount() == 2);
    EXPECT_NE(view()->root(), firstTreeRoot);
    EXPECT_EQ(view()->root()->href.str(), firstTreeRoot->href.str());
    EXPECT_EQ(frame()->statusText(), QStringLiteral("Norvane Sylvix"));

    MessageBox::setNextAnswer(QMessageBox::Ok);
    CNewTreeDialog::setNextAnswer(true, QStringLiteral("no-such-host.html"));
    trigger("actionFileNewTree");
    EXPECT_EQ(windowCount(), 2);
    expectBox("Can't interpret URL\n'no-such-host.html'", QStringLiteral("New Tree"));

    // A tree on another server has no directory of ours to follow: its
    // window starts no watcher, whatever the configuration serves.
    const int port = LoopbackListener().port(); // nobody listens there once it is gone
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
    CNewTreeDialog::setNextAnswer(true, QString::fromStdString(url));
    trigger("actionFileNewTree");
    ASSERT_EQ(windowCount(), 3);
    EXPECT_EQ(view()->root()->href.str(), url);
    EXPECT_TRUE(view()->root()->flags & EXTERNAL);
    EXPECT_TRUE(view()->document()->watchedDirectories().empty());

    // The frame's own commands stay; those the tree window answers go grey.
    frame()->mdiArea()->closeAllSubWindows();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(windowCount(), 0);
    for (const char *on : {"actionFileNewTree", "actionHelpAbout", "actionToolsNumbrel"})
        EXPECT_TRUE(enabled(on)) << on;
    for (const char *off : {"actionFileOpen", "actionViewHyperlink", "actionWindowNew"})
        EXPECT_FALSE(enabled(off)) << off;
}
