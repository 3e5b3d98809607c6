#pragma once

#include <QDialog>

class QComboBox;

namespace sylvix {

// "New Protected Path": a URL path among the candidates and a realm.
class CNewProtectedPathDlg : public QDialog
{
    Q_OBJECT
public:
    // The longest candidate and defaultRealm (when listed) start selected.
    CNewProtectedPathDlg(const QStringList &candidates, const QStringList &realms,
                         const QString &defaultRealm, QWidget *parent = nullptr);
    QString path() const;
    QString realm() const;

private:
    QComboBox *m_path;
    QComboBox *m_realm;
};

} // namespace sylvix
