#pragma once

// State shared across the windowed program.

#include <QObject>
#include <QString>

#include <string>

namespace sylvix {

class SiteNode;

// 1 while a row is being expanded: commands that change the tree are off
// and no window closes.
extern int busy;
// 1 while the node property sheet is modal; set it through
// PropertySheetOpened and PropertySheetClosed.
extern int propertySheetOpen;

// Signals of program-wide state that views follow.
class AppEvents : public QObject
{
    Q_OBJECT

signals:
    // The property sheet closed: a refresh held while it was open may run.
    void propertySheetClosed();
};
AppEvents &appEvents();

void PropertySheetOpened();
void PropertySheetClosed();
// The root of the first tree, shared by windows opened on it with an empty
// URL; freed by the main frame at its destruction.
extern SiteNode *firstTreeRoot;
// The process's command line as one text (argv joined by blanks).
extern std::string processCommandLine;

// Shows text in a "Fatal Error" box with the stop icon and ends the process
// with exit code 1 (std::exit, so that the core's temporary files go).
[[noreturn]] void FatalError(const QString &text);

// "Can't interpret URL\n'%s'", the URL shortened so that the whole message
// fits in 511 characters.
QString CantInterpretUrl(const QString &url);

} // namespace sylvix
