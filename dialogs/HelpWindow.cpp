#include "dialogs/HelpWindow.h"

#include "resources/Icons.h"

#include <QAction>
#include <QCoreApplication>
#include <QListWidget>
#include <QPointer>
#include <QSplitter>
#include <QTextBrowser>
#include <QToolBar>
#include <QVBoxLayout>

namespace sylvix {

namespace {

const QUrl kHelpBase(QStringLiteral("qrc:/help/"));

QPointer<HelpWindow> &TheWindow()
{
    static QPointer<HelpWindow> window;
    return window;
}

} // namespace

const std::vector<HelpTopic> &HelpTopics()
{
    static const std::vector<HelpTopic> topics = {
        {"Access Control", "properties.html#access"},
        {"Activity", "properties.html#activity"},
        {"Command line", "commandline.html"},
        {"Contents", "contents.html"},
        {"Diagnostics", "properties.html#diagnostics"},
        {"Display modes", "menus.html#view"},
        {"Examining document properties", "properties.html"},
        {"Find Node", "menus.html#search"},
        {"Glossary", "glossary.html"},
        {"Icons", "icons.html"},
        {"Index", "index.html"},
        {"Keyboard", "keyboard.html"},
        {"Keys", "keyboard.html"},
        {"Kinds of document", "icons.html#kind"},
        {"Menus", "menus.html"},
        {"Preferences", "menus.html#preferences"},
        {"Remote machine", "commandline.html"},
        {"Shortcut menu", "menus.html#shortcut"},
        {"State icons", "icons.html#state"},
        {"Toolbar", "icons.html#toolbar"},
        {"Tools", "menus.html#tools"},
        {"Wizards", "menus.html#wizards"},
    };
    return topics;
}

QUrl HelpPageFor(const QString &keyword)
{
    for (const HelpTopic &t : HelpTopics()) {
        if (keyword.compare(QLatin1String(t.keyword), Qt::CaseInsensitive) == 0)
            return kHelpBase.resolved(QUrl(QLatin1String(t.page)));
    }
    return kHelpBase.resolved(QUrl(QStringLiteral("index.html")));
}

void ShowHelp(const QString &keyword)
{
    QPointer<HelpWindow> &window = TheWindow();
    if (!window) {
        window = new HelpWindow;
        window->setAttribute(Qt::WA_DeleteOnClose);
        // An open help window must not keep the program running.
        window->setAttribute(Qt::WA_QuitOnClose, false);
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, window, &QObject::deleteLater);
    }
    window->showPage(HelpPageFor(keyword));
    window->show();
    window->raise();
    window->activateWindow();
}

HelpWindow *HelpWindow::instance()
{
    return TheWindow();
}

HelpWindow::HelpWindow(QWidget *parent)
    : QWidget(parent, Qt::Window), m_browser(new QTextBrowser), m_index(new QListWidget)
{
    InitResources();
    setWindowTitle(tr("Sylvix Help"));
    setWindowIcon(Icon("MAIN_ICON"));
    resize(760, 540);

    auto *tools = new QToolBar;
    QAction *back = tools->addAction(style()->standardIcon(QStyle::SP_ArrowBack), tr("&Back"));
    QAction *forward
        = tools->addAction(style()->standardIcon(QStyle::SP_ArrowForward), tr("&Forward"));
    back->setShortcut(QKeySequence::Back);
    forward->setShortcut(QKeySequence::Forward);
    back->setEnabled(false);
    forward->setEnabled(false);
    QAction *contents = tools->addAction(tr("&Contents"));
    QAction *index = tools->addAction(tr("&Index"));

    for (const HelpTopic &t : HelpTopics())
        m_index->addItem(QLatin1String(t.keyword));
    m_index->setMaximumWidth(220);
    m_browser->setOpenExternalLinks(true);
    m_browser->document()->setDefaultStyleSheet(QStringLiteral("dt { font-weight: bold; }"));

    auto *splitter = new QSplitter;
    splitter->addWidget(m_index);
    splitter->addWidget(m_browser);
    splitter->setStretchFactor(1, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(tools);
    layout->addWidget(splitter);

    connect(back, &QAction::triggered, m_browser, &QTextBrowser::backward);
    connect(forward, &QAction::triggered, m_browser, &QTextBrowser::forward);
    connect(m_browser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    connect(contents, &QAction::triggered, this,
            [this] { showPage(HelpPageFor(QStringLiteral("contents"))); });
    connect(index, &QAction::triggered, this,
            [this] { showPage(HelpPageFor(QStringLiteral("index"))); });
    connect(m_index, &QListWidget::itemActivated, this,
            [this](QListWidgetItem *item) { showPage(HelpPageFor(item->text())); });
    connect(m_index, &QListWidget::itemClicked, this,
            [this](QListWidgetItem *item) { showPage(HelpPageFor(item->text())); });
    connect(m_browser, &QTextBrowser::sourceChanged, this, [this] {
        const QString title = m_browser->documentTitle();
        setWindowTitle(title.isEmpty() ? tr("Sylvix Help") : tr("Sylvix Help - %1").arg(title));
    });
}

void HelpWindow::showPage(const QUrl &page)
{
    m_browser->setSource(page);
}

QUrl HelpWindow::source() const
{
    return m_browser->source();
}

} // namespace sylvix
