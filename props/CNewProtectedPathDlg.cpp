#include "props/CNewProtectedPathDlg.h"

#include "props/AccessWidgets.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>

namespace sylvix {

CNewProtectedPathDlg::CNewProtectedPathDlg(const QStringList &candidates, const QStringList &realms,
                                           const QString &defaultRealm, QWidget *parent)
    : QDialog(parent), m_path(new QComboBox(this)), m_realm(new QComboBox(this))
{
    setObjectName(QStringLiteral("newProtectedPathDialog"));
    setWindowTitle(QStringLiteral("New Protected Path"));
    m_path->setObjectName(QStringLiteral("urlPathCombo"));
    m_realm->setObjectName(QStringLiteral("realmCombo"));
    for (const QString &path : candidates)
        InsertSorted(m_path, path);
    m_path->setCurrentIndex(m_path->count() - 1);
    for (const QString &realm : realms)
        InsertSorted(m_realm, realm);
    m_realm->setCurrentIndex(m_realm->findText(defaultRealm, Qt::MatchFixedString));

    auto *form = new QFormLayout(this);
    form->addRow(QStringLiteral("URL Path:"), m_path);
    form->addRow(QStringLiteral("Realm:"), m_realm);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton *ok = buttons->button(QDialogButtonBox::Ok);
    ok->setObjectName(QStringLiteral("okButton"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    // Every covering path may be protected already: then there is nothing to choose.
    ok->setEnabled(m_path->count() > 0);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

QString CNewProtectedPathDlg::path() const
{
    return m_path->currentText();
}

QString CNewProtectedPathDlg::realm() const
{
    return m_realm->currentText();
}

} // namespace sylvix
