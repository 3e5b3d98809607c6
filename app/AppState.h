#pragma once

// State shared across the windowed program.

#include <QString>

#include <string>

namespace sylvix {

class SiteNode;

// 1 while a row is being expanded: commands that change the tree are off
// and no window closes.
extern int busy;
// 1 while the node property sheet is modal.
extern int propertySheetOpen;
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
