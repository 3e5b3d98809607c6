#include "dialogs/CWizardDlgBase.h"

#include "dialogs/HelpWindow.h"
#include "model/Config.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace sylvix {

namespace {

constexpr size_t kValueBytes = 1024;
constexpr size_t kCommandLineBytes = 511;

// A value's data as text, whatever its type, without a closing NUL.
bool readText(ConfigKey &key, const char *name, std::string &out)
{
    ConfigValue value;
    if (!key.queryValue(name, value, kValueBytes))
        return false;
    out = value.data.substr(0, value.data.find('\0'));
    return true;
}

} // namespace

CWizardDlgBase::CWizardDlgBase(QWidget *parent) : QDialog(parent) {}

void CWizardDlgBase::attach(QListWidget *list, QLabel *description, QDialogButtonBox *buttons,
                            const QString &helpText)
{
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("buttonOk"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("buttonCancel"));
    QPushButton *help = buttons->button(QDialogButtonBox::Help);
    help->setObjectName(QStringLiteral("buttonHelp"));
    help->setText(helpText);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this,
            [] { ShowHelp(QStringLiteral("Wizards")); });
    m_list = list;
    m_description = description;
    m_list->setSortingEnabled(true);
    connect(m_list, &QListWidget::currentRowChanged, this, [this] { ShowSelected(); });
    connect(m_list, &QListWidget::itemDoubleClicked, this, [this] {
        ShowSelected();
        accept();
    });
}

int CWizardDlgBase::exec()
{
    if (!OnInitDialog()) {
        m_noWizards = true;
        setResult(Rejected);
        return Rejected;
    }
    return QDialog::exec();
}

void CWizardDlgBase::done(int result)
{
    m_typeKey.reset();
    m_wizardsKey.reset();
    QDialog::done(result);
}

bool CWizardDlgBase::OnInitDialog()
{
    if (!ProgramKey || m_documentType.empty())
        return false;
    m_wizardsKey = ProgramKey->openKey("Wizards");
    if (m_wizardsKey)
        m_typeKey = m_wizardsKey->openKey(m_documentType);
    if (!m_typeKey) {
        m_wizardsKey.reset();
        return false;
    }
    const QSignalBlocker quiet(m_list);
    std::string name;
    for (uint32_t i = 0; m_typeKey->enumKey(i, name); ++i)
        m_list->addItem(QString::fromStdString(name));
    if (m_list->count() > 0)
        m_list->setCurrentRow(0);
    ShowSelected();
    return true;
}

void CWizardDlgBase::ShowSelected()
{
    const QListWidgetItem *item = m_list->currentItem();
    if (!item || !m_typeKey)
        return;
    std::unique_ptr<ConfigKey> wizard = m_typeKey->openKey(item->text().toStdString());
    if (!wizard)
        return;
    std::string text;
    if (readText(*wizard, "Description", text))
        m_description->setText(QString::fromStdString(text));
    if (readText(*wizard, "CommandLine", text))
        m_commandLine = text.substr(0, kCommandLineBytes);
}

QString CWizardDlgBase::wizardName() const
{
    const QListWidgetItem *item = m_list ? m_list->currentItem() : nullptr;
    return item ? item->text() : QString();
}

} // namespace sylvix
