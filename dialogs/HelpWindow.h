#pragma once

// The program's help: our own HTML pages under ":/help", found by keyword and
// shown in one help window with back, forward and a keyword index.

#include <QUrl>
#include <QWidget>

#include <vector>

class QListWidget;
class QTextBrowser;

namespace sylvix {

struct HelpTopic
{
    const char *keyword; // as the index lists it; looked up ignoring case
    const char *page;    // page under ":/help", with an optional "#anchor"
};

const std::vector<HelpTopic> &HelpTopics();

// The page of a keyword (ignoring case); the index page for an unknown one.
QUrl HelpPageFor(const QString &keyword);

// Opens the help window (one for the whole program) on the keyword's page.
void ShowHelp(const QString &keyword);

class HelpWindow : public QWidget
{
    Q_OBJECT
public:
    explicit HelpWindow(QWidget *parent = nullptr);

    void showPage(const QUrl &page);
    QUrl source() const;
    QTextBrowser *browser() const { return m_browser; }

    // The window ShowHelp uses; null until the first ShowHelp.
    static HelpWindow *instance();

private:
    QTextBrowser *m_browser;
    QListWidget *m_index;
};

} // namespace sylvix
