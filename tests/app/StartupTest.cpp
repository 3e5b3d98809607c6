#include "app/CommandLine.h"
#include "app/NewTreeDialog.h"
#include "model/Notify.h"
#include "tests/app/AppFixture.h"
#include "tests/support/ScriptServer.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QStatusBar>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace sylvix;
using namespace sylvix::test;

namespace {

// Runs at std::exit in a death test's child: says which box was shown.
void reportLastBox()
{
    if (const auto &box = MessageBox::last())
        std::fprintf(stderr, "box: %s|%d\n", qUtf8Printable(box->caption), int(box->icon));
}

// Counts the paints of the widget it filters.
struct PaintCounter : QObject
{
    int paints = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        paints += e->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

using Startup = AppFixture;

TEST_F(Startup, FatalErrorsEndWithCodeOneAndAStopBox)
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
                std::atexit(reportLastBox);
                start(c.args);
            },
            ::testing::ExitedWithCode(1),
            std::string("sylvix: ") + c.message + ".*box: Fatal Error\\|"
                + std::to_string(int(QMessageBox::Critical)))
            << c.message;
    }
    // The URL is shortened so that the message fits its 511 characters.
    const QString text = CantInterpretUrl(QString(600, QLatin1Char('u')));
    EXPECT_TRUE(text.size() == 511 && text.endsWith(QStringLiteral("...'"))) << text.size();
}

// The banner comes only without arguments and goes at the first key, the
// first click or after two and a half seconds.
TEST_F(Startup, Banner)
{
    for (int way = 0; way < 3; ++way) {
        QElapsedTimer clock;
        clock.start();
        start({"sylvix"});
        ASSERT_TRUE(m_app->banner());
        EXPECT_EQ(m_app->banner()->size(), QSize(300, 200));
        EXPECT_TRUE(m_app->banner()->isVisible());
        EXPECT_EQ(windowCount(), 1); // the first tree opened on the server's home page
        if (way == 0)
            QTest::keyClick(frame(), Qt::Key_Shift);
        else if (way == 1)
            QTest::mouseClick(frame()->mdiArea(), Qt::RightButton);
        // The age is the behaviour here; the upper bound is generous for a loaded machine.
        EXPECT_TRUE(QTest::qWaitFor([this] { return !m_app->banner(); }, way == 2 ? 15000 : 0));
        EXPECT_TRUE(way < 2 || clock.elapsed() >= 2500) << clock.elapsed();
        m_app.reset();
    }
}

// The status pane's rules, then New Tree opens windows or says why.
TEST_F(Startup, StatusTextAndNewTree)
{
    start();
    EXPECT_FALSE(m_app->banner()); // not when a URL is given
    // The first tree was parsed during start-up, before the user-interface
    // thread was recorded: none of its progress texts reached the pane.
    EXPECT_EQ(frame()->statusText(), QStringLiteral("Norvane Sylvix"));
    EXPECT_EQ(frame()->statusBar()->findChildren<QLabel *>().size(), 1);

    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame()));
    PaintCounter counter;
    frame()->statusPane()->installEventFilter(&counter);
    for (int i = 0; i < 2; ++i) // painted at once, without going back to the event loop
        ShowStatusText("Parsing index.html...");
    EXPECT_EQ(counter.paints, 1);
    std::thread([] { ShowStatusText("from a worker"); }).join();
    EXPECT_EQ(frame()->statusText(), QStringLiteral("Parsing index.html..."));
    frame()->statusPane()->removeEventFilter(&counter);

    ASSERT_TRUE(firstTreeRoot);
    EXPECT_EQ(treeUrl, firstTreeRoot->href.str()); // offered by the dialog next time
    CNewTreeDialog::setNextAnswer(false);
    trigger("actionFileNewTree");
    EXPECT_EQ(windowCount(), 1);

    // An empty URL: another window on the first tree, with its own copy.
    CNewTreeDialog::setNextAnswer(true, QString());
    trigger("actionFileNewTree");
    ASSERT_EQ(windowCount(), 2);
    EXPECT_NE(view()->root(), firstTreeRoot);
    EXPECT_EQ(view()->root()->href.str(), firstTreeRoot->href.str());
    EXPECT_EQ(frame()->statusText(), QStringLiteral("Norvane Sylvix"));

    MessageBox::setNextAnswer(QMessageBox::Ok);
    CNewTreeDialog::setNextAnswer(true, QStringLiteral("no-such-host.html"));
    trigger("actionFileNewTree");
    EXPECT_EQ(windowCount(), 2);
    expectBox("Can't interpret URL\n'no-such-host.html'", QStringLiteral("New Tree"));

    CNewTreeDialog::setNextAnswer(true, QStringLiteral("http://localhost/about.html"));
    trigger("actionFileNewTree");
    ASSERT_EQ(windowCount(), 3);
    EXPECT_EQ(view()->root()->href.str(), "http://localhost/about.html");
    EXPECT_EQ(frame()->mdiArea()->activeSubWindow()->windowTitle(),
              QStringLiteral("http://localhost/about.html"));

    // A tree on another server has no directory of ours to follow: its
    // window starts no watcher, whatever the configuration serves.
    const int port = LoopbackListener().port(); // nobody listens there once it is gone
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
    CNewTreeDialog::setNextAnswer(true, QString::fromStdString(url));
    trigger("actionFileNewTree");
    ASSERT_EQ(windowCount(), 4);
    EXPECT_TRUE(view()->root()->flags & EXTERNAL);
    EXPECT_TRUE(view()->document()->watchedDirectories().empty());

    MessageBox::setNextAnswer(QMessageBox::Ok);
    trigger("actionHelpAbout");
    expectBox("Sylvix Version 1.0", QStringLiteral("About Norvane Sylvix"), QMessageBox::NoIcon);
}
