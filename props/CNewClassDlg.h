#pragma once

#include <QDialog>

class QLineEdit;

namespace sylvix {

// Asks for one allow or deny class; caption "New Allow Class" or "New Deny Class".
class CNewClassDlg : public QDialog
{
    Q_OBJECT
public:
    CNewClassDlg(const QString &word, QWidget *parent = nullptr);
    QString text() const; // as typed

private:
    QLineEdit *m_edit;
};

} // namespace sylvix
