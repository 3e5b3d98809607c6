#include "app/CommandLine.h"
#include "app/NewTreeDialog.h"
#include "model/Notify.h"
#include "model/SiteNode.h"
#include "tests/app/AppFixture.h"

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

} // namespace

using Startup = AppFixture;

TEST_F(Startup, FatalErrorsEndWithCodeOneAndAStopBox)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case
    {
        std::vector<const char *> args;
        const char *message;
    };
    const Case cases[] = {
        {{"sylvix", "http://localhost/", "-r"}, "No remote server registry supplied for -r switch"},
        {{"sylvix", "-r", "gale", "http://localhost/"},
         "Error connecting to remote server registry"},
        {{"sylvix", "http://localhost/no-such-page.html"},
         "Can't interpret URL\n'http://localhost/no-such-page.html'"},
    };
    for (const Case &c : cases) {
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
}

TEST_F(Startup, BannerOnlyWithoutArgumentsGoneAtFirstInputOrAfterTwoAndAHalfSeconds)
{
    start({"sylvix"});
    ASSERT_TRUE(m_app->banner());
    EXPECT_EQ(m_app->banner()->size(), QSize(300, 200));
    EXPECT_TRUE(m_app->banner()->isVisible());
    EXPECT_EQ(windowCount(), 1); // the first tree opened on the server's home page
    QTest::keyClick(frame(), Qt::Key_Shift);
    EXPECT_FALSE(m_app->banner());
    m_app.reset();

    start({"sylvix"});
    QTest::mouseClick(frame()->mdiArea(), Qt::RightButton);
    EXPECT_FALSE(m_app->banner());
    m_app.reset();

    QElapsedTimer clock;
    clock.start();
    start({"sylvix"});
    ASSERT_TRUE(m_app->banner());
    // The age is the behaviour here; the upper bound is generous for a loaded machine.
    EXPECT_TRUE(QTest::qWaitFor([this] { return !m_app->banner(); }, 15000));
    EXPECT_GE(clock.elapsed(), 2500);
}

// The status pane's rules, then New Tree opens windows or says why.
TEST_F(Startup, StatusTextAndNewTree)
{
    start();
    EXPECT_FALSE(m_app->banner()); // not when a URL is given
    // The first tree was parsed during start-up, before the user-interface
    // thread was recorded: none of its progress texts reached the pane.
    EXPECT_EQ(frame()->statusText(), QStringLiteral("Norvane Sylvix"));

    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame()));
    int paints = 0;
    struct Counter : QObject
    {
        int *n;
        explicit Counter(int *count) : n(count) {}
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Paint)
                ++*n;
            return false;
        }
    } counter(&paints);
    frame()->statusPane()->installEventFilter(&counter);

    ShowStatusText("Parsing index.html...");
    EXPECT_EQ(frame()->statusText(), QStringLiteral("Parsing index.html..."));
    EXPECT_EQ(paints, 1); // at once, without going back to the event loop
    ShowStatusText("Parsing index.html...");
    EXPECT_EQ(paints, 1);
    std::thread worker([] { ShowStatusText("from a worker"); });
    worker.join();
    EXPECT_EQ(frame()->statusText(), QStringLiteral("Parsing index.html..."));
    frame()->statusPane()->removeEventFilter(&counter);
    EXPECT_EQ(frame()->statusBar()->findChildren<QLabel *>().size(), 1);

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
    ASSERT_TRUE(MessageBox::last());
    EXPECT_EQ(MessageBox::last()->caption, QStringLiteral("New Tree"));
    EXPECT_EQ(MessageBox::last()->text, QStringLiteral("Can't interpret URL\n'no-such-host.html'"));
    EXPECT_EQ(MessageBox::last()->icon, QMessageBox::Critical);

    CNewTreeDialog::setNextAnswer(true, QStringLiteral("http://localhost/about.html"));
    trigger("actionFileNewTree");
    ASSERT_EQ(windowCount(), 3);
    EXPECT_EQ(view()->root()->href.str(), "http://localhost/about.html");
    EXPECT_EQ(frame()->mdiArea()->activeSubWindow()->windowTitle(),
              QStringLiteral("http://localhost/about.html"));

    MessageBox::setNextAnswer(QMessageBox::Ok);
    trigger("actionHelpAbout");
    EXPECT_EQ(MessageBox::last()->caption, QStringLiteral("About Norvane Sylvix"));
    EXPECT_EQ(MessageBox::last()->text, QStringLiteral("Sylvix Version 1.0"));
}

TEST(MessageText, CantInterpretUrlFitsItsBuffer)
{
    const QString longUrl(600, QLatin1Char('u'));
    const QString text = CantInterpretUrl(longUrl);
    EXPECT_EQ(text.size(), 511);
    EXPECT_TRUE(text.endsWith(QStringLiteral("...'")));
}
