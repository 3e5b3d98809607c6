#pragma once

// Starts the windowed program on the demo store, headless.

#include "app/AppState.h"
#include "app/ListtestApp.h"
#include "app/ListtestDoc.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "tests/app/DemoStore.h"
#include "tree/ListtestView.h"
#include "tree/TreeListBox.h"

#include <QAction>
#include <QCoreApplication>
#include <QMdiArea>
#include <QMdiSubWindow>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace sylvix::test {

class AppFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        MessageBox::clearLast();
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
        m_demo.use();
    }
    void TearDown() override
    {
        m_app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
    }

    // The demo's home page is the root unless args say otherwise.
    void start(std::vector<const char *> args = {"sylvix", "http://localhost/"})
    {
        m_app = std::make_unique<CListtestApp>();
        ASSERT_TRUE(m_app->InitInstance(int(args.size()), args.data(),
                                        [](CListtestDoc *doc) { return new CListtestView(doc); }));
    }

    CMainFrame *frame() const { return m_app->frame(); }
    CListtestView *view() const { return dynamic_cast<CListtestView *>(frame()->activeView()); }
    CTreeListBox *list() const { return view()->treeList(); }
    int windowCount() const { return int(frame()->mdiArea()->subWindowList().size()); }

    QAction *action(const char *objectName) const
    {
        QAction *a = frame()->findChild<QAction *>(QString::fromUtf8(objectName));
        EXPECT_TRUE(a) << objectName;
        return a;
    }
    bool enabled(const char *objectName) const
    {
        frame()->UpdateCommands();
        QAction *a = action(objectName);
        return a && a->isEnabled();
    }
    void trigger(const char *objectName) const
    {
        frame()->UpdateCommands();
        if (QAction *a = action(objectName))
            a->trigger();
    }

    DemoStore m_demo;
    std::unique_ptr<CListtestApp> m_app;
};

} // namespace sylvix::test
