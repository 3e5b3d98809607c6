#pragma once

// Starts the windowed program on the demo store, headless.

#include "app/AppState.h"
#include "app/ListtestApp.h"
#include "app/ListtestDoc.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "model/SiteNode.h"
#include "tests/app/DemoStore.h"
#include "tree/ListtestView.h"
#include "tree/TreeListBox.h"
#include "tree/TreeRow.h"

#include <QAction>
#include <QCoreApplication>
#include <QMdiArea>
#include <QMdiSubWindow>

#include <gtest/gtest.h>

#include <memory>
#include <string_view>
#include <vector>

namespace sylvix::test {

class AppFixture : public ::testing::Test
{
protected:
    explicit AppFixture(bool copySite = false) : m_demo(copySite) {}
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

    // The last message box asked for.
    static void expectBox(const char *text, const QString &caption,
                          QMessageBox::Icon icon = QMessageBox::Critical)
    {
        const auto &box = MessageBox::last();
        ASSERT_TRUE(box);
        EXPECT_EQ(std::tuple(box->text, box->caption, box->icon),
                  std::tuple(QString::fromUtf8(text), caption, icon));
    }

    // The first row of in (by default the active view's list) from index
    // from on whose URL ends with urlTail, or -1.
    int rowIndex(std::string_view urlTail, int from = 0, const CTreeListBox *in = nullptr) const
    {
        in = in ? in : list();
        for (int i = from; i < in->RowCount(); ++i)
            if (in->RowAt(i)->node->url.view().ends_with(urlTail))
                return i;
        return -1;
    }
    // Opens the rows from the root down, each URL (matched by its end) below
    // the one before, and selects the last.
    CTreeRow *openDown(const std::vector<std::string> &urls)
    {
        int at = 0;
        for (const std::string &u : urls) {
            list()->SelectRow(list()->RowAt(at));
            if (!list()->RowAt(at)->expanded)
                trigger("actionTreeExpand");
            at = rowIndex(u, at + 1);
            EXPECT_GE(at, 0) << u;
            if (at < 0)
                return nullptr;
        }
        list()->SelectRow(list()->RowAt(at));
        return list()->RowAt(at);
    }

    DemoStore m_demo;
    std::unique_ptr<CListtestApp> m_app;
};

} // namespace sylvix::test
