#pragma once

// The help window and the Preferences dialog, as the commands reach them.

#include <QString>

class QWidget;

namespace sylvix {

bool HelpAvailable();
// Opens the help on the page of keyword.
void ShowHelpKeyword(const QString &keyword);

bool PreferencesAvailable();
// Runs the Preferences dialog modally.
void RunPreferences(QWidget *parent);

} // namespace sylvix
