#include "dialogs/CPreferencesDlg.h"
#include "ui_CPreferencesDlg.h"

#include "dialogs/FileDialog.h"
#include "model/Config.h"
#include "model/Notify.h"

#include <QPushButton>

#include <optional>
#include <string>

namespace sylvix {

namespace {

constexpr size_t kBrowserBuffer = 1024; // bytes, with the terminating zero
constexpr const char *kBrowserValue = "BrowserCommand";

// The stored browser command; nullopt when it is absent, too long for the
// buffer or not a string.
std::optional<std::string> StoredBrowserCommand()
{
    ConfigValue value;
    if (!ProgramKey || !ProgramKey->queryValue(kBrowserValue, value, kBrowserBuffer)
        || value.type != ValueType::String)
        return std::nullopt;
    return value.data;
}

} // namespace

CPreferencesDlg::CPreferencesDlg(QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CPreferencesDlg>())
{
    m_ui->setupUi(this);
    m_ui->verifyCheck->setChecked(verifyExternal);
    const std::optional<std::string> stored = StoredBrowserCommand();
    m_ui->browserEdit->setText(QString::fromStdString(stored.value_or(kDefaultBrowserCommand)));
    connect(m_ui->browseButton, &QPushButton::clicked, this, &CPreferencesDlg::browse);
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &CPreferencesDlg::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &CPreferencesDlg::reject);
}

CPreferencesDlg::~CPreferencesDlg() = default;

void CPreferencesDlg::browse()
{
    // Programs here have no ".exe": the second filter lets any file be chosen.
    const QString file = FileDialog::getOpenFileName(
        nullptr, tr("Browse"), QStringLiteral("Executable Files(*.exe);;All Files (*)"));
    if (!file.isEmpty())
        m_ui->browserEdit->setText(file);
}

void CPreferencesDlg::accept()
{
    verifyExternal = m_ui->verifyCheck->isChecked();
    std::string command = m_ui->browserEdit->text().toStdString();
    if (command.size() >= kBrowserBuffer) {
        // Cut to the buffer, at the start of the UTF-8 sequence that would be split.
        size_t cut = kBrowserBuffer - 1;
        while (cut > 0 && (static_cast<unsigned char>(command[cut]) & 0xc0) == 0x80)
            --cut;
        command.resize(cut);
    }
    if (StoredBrowserCommand() && !WriteString(*ProgramKey, kBrowserValue, command)) {
        ShowErrorBox("The browser command could not be stored.", "Sylvix Preferences");
        return;
    }
    QDialog::accept();
}

} // namespace sylvix
