#pragma once

#include <QDialog>

class QListWidget;

namespace sylvix {

// "Available Users & Groups": picks one of a realm's users or "[groups]".
class CUsersGroupsDlg : public QDialog
{
    Q_OBJECT
public:
    CUsersGroupsDlg(const QStringList &entries, QWidget *parent = nullptr);
    QString selected() const; // "" when nothing is selected

private:
    QListWidget *m_list;
};

} // namespace sylvix
