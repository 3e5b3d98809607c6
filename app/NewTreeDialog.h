#pragma once

// Asks for the URL of the root of a new tree.

#include <QDialog>

#include <optional>

class QLineEdit;

namespace sylvix {

class CNewTreeDialog : public QDialog
{
    Q_OBJECT

public:
    // Edits url; at most capacity - 1 characters come back.
    CNewTreeDialog(QString url, int capacity, QWidget *parent = nullptr);

    QString url() const;
    QLineEdit *edit() const { return m_edit; }
    int exec() override;

    // The next exec() returns at once: accepted with text, or rejected.
    static void setNextAnswer(bool accept, const QString &text = QString());

private:
    QLineEdit *m_edit;
};

} // namespace sylvix
