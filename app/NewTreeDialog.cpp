#include "app/NewTreeDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace sylvix {

namespace {

struct Answer
{
    bool accept = false;
    QString text;
};
std::optional<Answer> g_next;

} // namespace

CNewTreeDialog::CNewTreeDialog(QString url, int capacity, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("newTreeDialog"));
    setWindowTitle(QStringLiteral("New Tree"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QStringLiteral("Enter URL for the root (home page) of the new tree:")));
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("urlEdit"));
    m_edit->setMaxLength(capacity - 1);
    m_edit->setMinimumWidth(360);
    m_edit->setText(url);
    m_edit->selectAll();
    m_edit->setFocus();
    layout->addWidget(m_edit);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QString CNewTreeDialog::url() const
{
    return m_edit->text();
}

int CNewTreeDialog::exec()
{
    if (g_next) {
        Answer answer = *g_next;
        g_next.reset();
        if (answer.accept)
            m_edit->setText(answer.text); // through the field, so its cap applies
        setResult(answer.accept ? Accepted : Rejected);
        return result();
    }
    return QDialog::exec();
}

void CNewTreeDialog::setNextAnswer(bool accept, const QString &text)
{
    g_next = Answer{accept, text};
}

} // namespace sylvix
