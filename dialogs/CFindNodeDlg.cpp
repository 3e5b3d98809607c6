#include "dialogs/CFindNodeDlg.h"
#include "ui_CFindNodeDlg.h"

#include "dialogs/FindState.h"
#include "model/SiteNode.h"
#include "resources/Icons.h"

#include <QRadioButton>

namespace sylvix {

namespace {

constexpr int kIconSize = 16;

} // namespace

CFindNodeDlg::CFindNodeDlg(QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CFindNodeDlg>())
{
    m_ui->setupUi(this);
    m_ui->brokenIcon->setPixmap(Icon("BROKEN_ICON").pixmap(kIconSize));
    m_ui->externalIcon->setPixmap(Icon("EXTERNAL_ICON").pixmap(kIconSize));
    m_ui->virtualIcon->setPixmap(Icon("VIRTUAL_ICON").pixmap(kIconSize));
    connect(m_ui->textEdit, &QLineEdit::textChanged, this, &CFindNodeDlg::applyFindRule);
    for (QCheckBox *box : {m_ui->brokenCheck, m_ui->externalCheck, m_ui->virtualCheck})
        connect(box, &QCheckBox::clicked, this, [this] {
            fromControls();
            applyFindRule();
        });
    connect(m_ui->findButton, &QPushButton::clicked, this, &CFindNodeDlg::onFind);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &CFindNodeDlg::reject);
}

CFindNodeDlg::~CFindNodeDlg() = default;

uint32_t CFindNodeDlg::requiredFlags() const
{
    return (broken ? BROKEN : 0u) | (isVirtual ? VIRTUAL : 0u) | (external ? EXTERNAL : 0u);
}

void CFindNodeDlg::showEvent(QShowEvent *event)
{
    // The fields are set between construction and exec().
    if (!m_initialised) {
        m_initialised = true;
        toControls();
        applyFindRule();
    }
    QDialog::showEvent(event);
}

void CFindNodeDlg::toControls()
{
    m_ui->textEdit->setText(text);
    QRadioButton *const radios[] = {m_ui->hyperlinkRadio, m_ui->fileNameRadio, m_ui->titleRadio,
                                    m_ui->labelRadio, m_ui->urlRadio};
    for (int i = 0; i < 5; ++i)
        radios[i]->setChecked(i == field);
    m_ui->matchCaseCheck->setChecked(matchCase != 0);
    m_ui->brokenCheck->setChecked(broken != 0);
    m_ui->externalCheck->setChecked(external != 0);
    m_ui->virtualCheck->setChecked(isVirtual != 0);
}

void CFindNodeDlg::fromControls()
{
    text = m_ui->textEdit->text();
    QRadioButton *const radios[] = {m_ui->hyperlinkRadio, m_ui->fileNameRadio, m_ui->titleRadio,
                                    m_ui->labelRadio, m_ui->urlRadio};
    for (int i = 0; i < 5; ++i)
        if (radios[i]->isChecked())
            field = i;
    matchCase = m_ui->matchCaseCheck->isChecked() ? 1 : 0;
    broken = m_ui->brokenCheck->isChecked() ? 1 : 0;
    external = m_ui->externalCheck->isChecked() ? 1 : 0;
    isVirtual = m_ui->virtualCheck->isChecked() ? 1 : 0;
}

void CFindNodeDlg::applyFindRule()
{
    const bool on = !m_ui->textEdit->text().isEmpty() || broken || external || isVirtual;
    m_ui->findButton->setEnabled(on);
    m_ui->findButton->setDefault(on);
}

void CFindNodeDlg::onFind()
{
    // An empty edit keeps the text stored before: flags alone may be searched.
    const QString typed = m_ui->textEdit->text();
    if (!typed.isEmpty())
        lastSearch.text = typed.toStdString();
    fromControls();
    done(kFindResult);
}

} // namespace sylvix
