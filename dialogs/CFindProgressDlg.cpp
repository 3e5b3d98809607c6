#include "dialogs/CFindProgressDlg.h"
#include "ui_CFindProgressDlg.h"

#include <QCoreApplication>

namespace sylvix {

namespace {

CFindProgressDlg *g_current = nullptr;

} // namespace

CFindProgressDlg::CFindProgressDlg(const QString &searchText, QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CFindProgressDlg>())
{
    m_ui->setupUi(this);
    setModal(false);
    m_ui->searchText->setText(searchText);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &CFindProgressDlg::reject);
    g_current = this;
}

CFindProgressDlg::~CFindProgressDlg()
{
    if (g_current == this)
        g_current = nullptr;
}

CFindProgressDlg *CFindProgressDlg::current()
{
    return g_current;
}

bool CFindProgressDlg::Progress(std::string_view url)
{
    if (!m_sinceShown.isValid() || m_sinceShown.elapsed() >= kRepaintMs) {
        m_ui->urlText->setText(QString::fromUtf8(url.data(), qsizetype(url.size())));
        m_sinceShown.start();
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return m_cancelled;
}

QString CFindProgressDlg::shownUrl() const
{
    return m_ui->urlText->text();
}

void CFindProgressDlg::reject()
{
    m_cancelled = true;
    hide();
}

} // namespace sylvix
