#include "app/Services.h"

namespace sylvix {

// The help window and the Preferences dialog are not part of the program
// yet: their commands stay off.

bool HelpAvailable()
{
    return false;
}

void ShowHelpKeyword(const QString &) {}

bool PreferencesAvailable()
{
    return false;
}

void RunPreferences(QWidget *) {}

} // namespace sylvix
