#include "app/ListtestApp.h"

#include "app/AppState.h"
#include "app/CommandLine.h"
#include "app/MessageBox.h"
#include "app/NewTreeDialog.h"
#include "app/Tools.h"
#include "dialogs/CPreferencesDlg.h"
#include "model/Events.h"
#include "model/Notify.h"
#include "resources/CommandTable.h"
#include "resources/Icons.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>

#include <cstdio>
#include <thread>

namespace sylvix {

namespace {

constexpr int kBannerWidth = 300;
constexpr int kBannerHeight = 200;
constexpr int kBannerPeriodMs = 750;
constexpr qint64 kBannerLifeMs = 2500;

QString toQ(const std::string &s)
{
    return QString::fromStdString(s);
}

} // namespace

CListtestApp::CListtestApp()
{
    // Values of a previous run in the same process (tests) do not carry over.
    remoteRegistryMachine.reset();
    rootUrlArgument.reset();
    mainThread.reset();
    busy = 0;
    m_bannerTimer.setInterval(kBannerPeriodMs);
    connect(&m_bannerTimer, &QTimer::timeout, this, &CListtestApp::OnIdle);
}

CListtestApp::~CListtestApp()
{
    qApp->removeEventFilter(this);
    InstallNotifyHooks({});
    InstallEventPump({});
    mainThread.reset();
}

bool CListtestApp::InitInstance(int argc, const char *const *argv, CMainFrame::ViewFactory factory)
{
    processCommandLine = JoinArguments(argc, argv);
    m_frame = std::make_unique<CMainFrame>();
    m_frame->setViewFactory(std::move(factory));
    m_frame->setApplicationTarget(this);
    installHooks();

    if (!(m_frame->windowState() & Qt::WindowMinimized) && argc <= 1)
        showBanner();
    m_startTick.start();

    treeUrl.clear();
    m_frame->OpenNewDocument();

    m_frame->show();
    m_frame->UpdateCommands();
    mainThread = std::this_thread::get_id();
    if (const QString shot = qEnvironmentVariable("SYLVIX_SCREENSHOT"); !shot.isEmpty())
        QTimer::singleShot(0, this, [this, shot] { ScreenshotAndQuit(shot, 2); });
    return true;
}

void CListtestApp::ScreenshotAndQuit(const QString &path, int levels)
{
    dismissBanner();
    auto expandEnabled = [this] {
        CommandState state;
        DocView *view = m_frame->activeView();
        return view && view->UpdateCommand(ID_TREE_EXPAND, state) && state.enabled;
    };
    for (int level = 0; level < levels; ++level) {
        if (level > 0) {
            // Down the list to the next row that opens.
            for (int step = 0; step < 100 && !expandEnabled(); ++step) {
                DocView *view = m_frame->activeView();
                if (!view)
                    break;
                QWidget *list
                    = view->widget()->focusProxy() ? view->widget()->focusProxy() : view->widget();
                QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
                QApplication::sendEvent(list, &down);
            }
        }
        m_frame->RouteCommand(ID_TREE_EXPAND);
    }
    m_frame->UpdateCommands();
    QCoreApplication::processEvents();
    const bool saved = m_frame->grab().save(path);
    std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "screenshot:" : "sylvix: cannot write",
                 qUtf8Printable(path));
    std::fflush(stdout);
    QCoreApplication::exit(saved ? 0 : 1);
}

void CListtestApp::installHooks()
{
    CMainFrame *frame = m_frame.get();
    NotifyHooks hooks;
    hooks.status = [frame](const std::string &text) { frame->SetStatusText(toQ(text)); };
    hooks.askYesNo = [frame](const std::string &text, const std::string &caption) {
        return MessageBox::askYesNo(frame, toQ(text), toQ(caption));
    };
    hooks.errorBox = [frame](const std::string &text, const std::string &caption) {
        MessageBox::error(frame, toQ(text), toQ(caption));
    };
    InstallNotifyHooks(std::move(hooks));
    InstallEventPump([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
}

void CListtestApp::showBanner()
{
    auto *banner = new QLabel(m_frame.get(), Qt::SplashScreen | Qt::FramelessWindowHint);
    banner->setObjectName(QStringLiteral("banner"));
    banner->setAttribute(Qt::WA_DeleteOnClose);
    banner->setPixmap(Icon("BANNER").pixmap(kBannerWidth, kBannerHeight));
    banner->setScaledContents(true);
    const QRect frameRect = m_frame->frameGeometry();
    banner->resize(kBannerWidth, kBannerHeight);
    // Centred over the main window, then sized from its top-left corner.
    banner->move(frameRect.center() - QPoint(kBannerWidth / 2, kBannerHeight / 2));
    banner->show();
    banner->repaint();
    m_banner = banner;
    qApp->installEventFilter(this);
    m_bannerTimer.start();
}

void CListtestApp::dismissBanner()
{
    if (!m_banner)
        return;
    m_bannerTimer.stop();
    qApp->removeEventFilter(this);
    delete m_banner;
    m_frame->update();
}

bool CListtestApp::OnIdle()
{
    if (!m_banner)
        return false;
    if (m_startTick.isValid() && m_startTick.elapsed() > kBannerLifeMs) {
        dismissBanner();
        return false;
    }
    return true;
}

bool CListtestApp::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::NonClientAreaMouseButtonPress:
        if (m_banner) {
            const auto *mouse = dynamic_cast<QMouseEvent *>(event);
            const bool counts = !mouse || mouse->button() == Qt::LeftButton
                                || mouse->button() == Qt::RightButton
                                || mouse->button() == Qt::MiddleButton;
            if (counts)
                dismissBanner();
        }
        break;
    default: break;
    }
    return QObject::eventFilter(watched, event); // the input goes on as usual
}

void CListtestApp::NewTree()
{
    CNewTreeDialog dialog(toQ(treeUrl), int(kTreeUrlChars), m_frame.get());
    if (dialog.exec() != QDialog::Accepted)
        return;
    treeUrl = dialog.url().toStdString().substr(0, kTreeUrlChars - 1);
    m_frame->OpenNewDocument();
    ShowStatusText("Norvane Sylvix");
}

bool CListtestApp::UpdateCommand(int id, CommandState &state)
{
    switch (id) {
    case ID_APP_ABOUT:
    case ID_FILE_NEW: state.enabled = true; return true;
    case ID_PREFERENCES: state.enabled = true; return true;
    default: state.enabled = IsToolCommand(id); return state.enabled;
    }
}

bool CListtestApp::OnCommand(int id)
{
    switch (id) {
    case ID_APP_ABOUT: {
        const QPixmap icon = Icon("MAIN_ICON").pixmap(32, 32);
        MessageBox::show(m_frame.get(), QMessageBox::NoIcon, QStringLiteral("Sylvix Version 1.0"),
                         QStringLiteral("About Norvane Sylvix"), QMessageBox::Ok, &icon);
        return true;
    }
    case ID_FILE_NEW: NewTree(); return true;
    case ID_PREFERENCES: {
        CPreferencesDlg dialog(m_frame.get());
        dialog.exec();
        return true;
    }
    default:
        if (IsToolCommand(id)) {
            StartTool(id);
            return true;
        }
        return false;
    }
}

} // namespace sylvix
