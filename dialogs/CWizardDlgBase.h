#pragma once

// What the New Document and Select Wizard dialogs share: the wizards
// registered for one content type under the program's "Wizards" key, the
// selected one's description, and its command line for the caller.

#include "platform/ConfigStore.h"

#include <QDialog>

#include <memory>
#include <string>

class QDialogButtonBox;
class QLabel;
class QListWidget;

namespace sylvix {

class CWizardDlgBase : public QDialog
{
    Q_OBJECT
public:
    // The node's content type; set before exec().
    void SetDocumentType(const std::string &type) { m_documentType = type; }

    // Without a key for the type, ends with Rejected before it is shown and
    // sets noWizards().
    int exec() override;
    void done(int result) override;

    bool noWizards() const { return m_noWizards; }
    // The selected wizard's "CommandLine" (at most 511 bytes); "" when none
    // was read.
    const std::string &commandLine() const { return m_commandLine; }
    QString wizardName() const;

protected:
    explicit CWizardDlgBase(QWidget *parent);
    // The template's list, description text and buttons, once it is set up;
    // Help opens the help window's page on wizards.
    void attach(QListWidget *list, QLabel *description, QDialogButtonBox *buttons,
                const QString &helpText);

private:
    bool OnInitDialog();
    void ShowSelected();

    QListWidget *m_list = nullptr;
    QLabel *m_description = nullptr;
    std::string m_documentType;
    std::string m_commandLine;
    bool m_noWizards = false;
    std::unique_ptr<ConfigKey> m_wizardsKey;
    std::unique_ptr<ConfigKey> m_typeKey;
};

} // namespace sylvix
