#pragma once

// The file picker behind one call that a test can pre-answer, so that no
// test blocks on a modal dialog.

#include <QString>

class QWidget;

namespace sylvix {

class FileDialog
{
public:
    // The chosen file's full path, or an empty string when the user cancels.
    static QString getOpenFileName(QWidget *parent, const QString &caption, const QString &filter);

    // The next getOpenFileName returns name at once without showing a
    // dialog (an empty name answers as a cancel). One answer per call.
    static void setNextFileName(const QString &name);

private:
    static bool s_answerSet;
    static QString s_nextName;
};

} // namespace sylvix
