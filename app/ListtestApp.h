#pragma once

// The application object: starts the frame, shows the start-up banner,
// opens the first tree window and answers the commands that work with no
// tree window open.

#include "app/DocView.h"
#include "app/MainFrame.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace sylvix {

class CListtestApp : public QObject, public CommandTarget
{
    Q_OBJECT

public:
    CListtestApp();
    ~CListtestApp() override;

    // Start-up; false when the program should end at once. argv as left by
    // QApplication. A fatal error in the first tree ends the process.
    bool InitInstance(int argc, const char *const *argv, CMainFrame::ViewFactory factory);

    CMainFrame *frame() const { return m_frame.get(); }
    QWidget *banner() const { return m_banner; }

    // Ends the banner once it is older than 2 500 ms; true while it waits.
    bool OnIdle();
    // The New Tree dialog, then a window on its URL.
    void NewTree();

    // Opens levels of the active tree (the selected row, then the first row
    // below it that can open), saves a picture of the main window to path
    // and ends the event loop. For the demo.
    void ScreenshotAndQuit(const QString &path, int levels);

    bool UpdateCommand(int id, CommandState &state) override;
    bool OnCommand(int id) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showBanner();
    void dismissBanner();
    void installHooks();

    std::unique_ptr<CMainFrame> m_frame;
    QPointer<QWidget> m_banner;
    QTimer m_bannerTimer;
    QElapsedTimer m_startTick;
};

} // namespace sylvix
