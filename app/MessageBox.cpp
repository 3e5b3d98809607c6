#include "app/MessageBox.h"

#include <QPixmap>

namespace sylvix {

namespace {

QMessageBox::StandardButton g_next = QMessageBox::NoButton;
QMessageBox::StandardButton g_auto = QMessageBox::NoButton;
std::optional<MessageBox::Shown> g_last;
int g_count = 0;

} // namespace

QMessageBox::StandardButton MessageBox::show(QWidget *parent, QMessageBox::Icon icon,
                                             const QString &text, const QString &caption,
                                             QMessageBox::StandardButtons buttons,
                                             const QPixmap *picture)
{
    g_last = Shown{text, caption, icon, buttons};
    ++g_count;
    if (g_next != QMessageBox::NoButton) {
        QMessageBox::StandardButton answer = g_next;
        g_next = QMessageBox::NoButton;
        return answer;
    }
    if (g_auto != QMessageBox::NoButton)
        return g_auto;
    QMessageBox box(icon, caption, text, buttons, parent);
    if (picture)
        box.setIconPixmap(*picture);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

bool MessageBox::askYesNo(QWidget *parent, const QString &text, const QString &caption)
{
    return show(parent, QMessageBox::Question, text, caption, QMessageBox::Yes | QMessageBox::No)
           == QMessageBox::Yes;
}

void MessageBox::error(QWidget *parent, const QString &text, const QString &caption)
{
    show(parent, QMessageBox::Critical, text, caption, QMessageBox::Ok);
}

void MessageBox::information(QWidget *parent, const QString &text, const QString &caption)
{
    show(parent, QMessageBox::NoIcon, text, caption, QMessageBox::Ok);
}

void MessageBox::setNextAnswer(QMessageBox::StandardButton answer)
{
    g_next = answer;
}

void MessageBox::setAutoAnswer(QMessageBox::StandardButton answer)
{
    g_auto = answer;
}

const std::optional<MessageBox::Shown> &MessageBox::last()
{
    return g_last;
}

int MessageBox::count()
{
    return g_count;
}

void MessageBox::clearLast()
{
    g_last.reset();
    g_count = 0;
}

} // namespace sylvix
