#include "props/CNewClassDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace sylvix {

CNewClassDlg::CNewClassDlg(const QString &word, QWidget *parent)
    : QDialog(parent), m_edit(new QLineEdit(this))
{
    setObjectName(QStringLiteral("newClassDialog"));
    setWindowTitle(QStringLiteral("New ") + word + QStringLiteral(" Class"));
    m_edit->setObjectName(QStringLiteral("classEdit"));
    auto *form = new QFormLayout(this);
    form->addRow(QStringLiteral("Class:"), m_edit);
    form->addRow(new QLabel(QStringLiteral("This can be a (partial) domain name, a\n"
                                           "(partial) IP Address, or \"all\"."),
                            this));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

QString CNewClassDlg::text() const
{
    return m_edit->text();
}

} // namespace sylvix
