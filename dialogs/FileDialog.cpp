#include "dialogs/FileDialog.h"

#include <QFileDialog>

#include <utility>

namespace sylvix {

bool FileDialog::s_answerSet = false;
QString FileDialog::s_nextName;

QString FileDialog::getOpenFileName(QWidget *parent, const QString &caption, const QString &filter)
{
    if (s_answerSet) {
        s_answerSet = false;
        return std::exchange(s_nextName, QString());
    }
    QFileDialog dialog(parent, caption, QString(), filter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

void FileDialog::setNextFileName(const QString &name)
{
    s_answerSet = true;
    s_nextName = name;
}

} // namespace sylvix
