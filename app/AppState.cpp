#include "app/AppState.h"

#include "app/MainFrame.h"
#include "app/MessageBox.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace sylvix {

int busy = 0;
int propertySheetOpen = 0;
SiteNode *firstTreeRoot = nullptr;
std::string processCommandLine;

namespace {

QWidget *messageOwner()
{
    return CMainFrame::instance();
}

} // namespace

AppEvents &appEvents()
{
    static AppEvents events;
    return events;
}

void PropertySheetOpened()
{
    propertySheetOpen = 1;
}

void PropertySheetClosed()
{
    propertySheetOpen = 0;
    emit appEvents().propertySheetClosed();
}

void FatalError(const QString &text)
{
    // Also on stderr: the box may be answered by nobody when there is no display.
    std::fprintf(stderr, "sylvix: %s\n", qUtf8Printable(text));
    std::fflush(stderr);
    MessageBox::error(messageOwner(), text, QStringLiteral("Fatal Error"));
    std::exit(1);
}

QString CantInterpretUrl(const QString &url)
{
    const QString head = QStringLiteral("Can't interpret URL\n'");
    const QString tail = QStringLiteral("'");
    constexpr int kLimit = 511;
    QString shown = url;
    const int room = kLimit - int(head.size() + tail.size());
    if (shown.size() > room)
        shown = shown.left(room - 3) + QStringLiteral("...");
    return head + shown + tail;
}

} // namespace sylvix
