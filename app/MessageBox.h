#pragma once

// Every message box of the program goes through here, so that a test can
// answer the next box before it is shown instead of blocking on it.

#include <QMessageBox>
#include <QString>

#include <optional>

namespace sylvix {

class MessageBox
{
public:
    struct Shown
    {
        QString text;
        QString caption;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
    };

    // Question icon, Yes and No; true for Yes.
    static bool askYesNo(QWidget *parent, const QString &text, const QString &caption);
    // Stop icon and OK.
    static void error(QWidget *parent, const QString &text, const QString &caption);
    // No icon and OK.
    static void information(QWidget *parent, const QString &text, const QString &caption);
    // Shows an arbitrary box and returns the button pressed.
    static QMessageBox::StandardButton show(QWidget *parent, QMessageBox::Icon icon,
                                            const QString &text, const QString &caption,
                                            QMessageBox::StandardButtons buttons,
                                            const QPixmap *picture = nullptr);

    // The next box returns answer at once, without showing.
    static void setNextAnswer(QMessageBox::StandardButton answer);
    // Every box from now on returns answer at once (NoButton: show them again).
    static void setAutoAnswer(QMessageBox::StandardButton answer);
    // The last box asked for, answered or not.
    static const std::optional<Shown> &last();
    static int count();
    static void clearLast();
};

} // namespace sylvix
