#include "props/CNodePropDgnostics.h"

#include "props/PropertyRules.h"
#include "props/TabbedList.h"

#include <QComboBox>
#include <QLabel>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace sylvix {

int diagnosticsFilter = 0;

CNodePropDgnostics::CNodePropDgnostics(SiteNode *node, QWidget *parent)
    : QWidget(parent), m_node(node)
{
    setObjectName(QStringLiteral("pageDiagnostics"));
    setWindowTitle(QStringLiteral("Diagnostics"));
    m_filter = new QComboBox(this);
    m_filter->setObjectName(QStringLiteral("comboSeverity"));
    m_filter->addItems({QStringLiteral("Errors, Warnings, Information"),
                        QStringLiteral("Errors, Warnings"), QStringLiteral("Errors")});
    m_list = new CTabbedList(this);
    m_list->setObjectName(QStringLiteral("listMessages"));
    m_checking = new QLabel(QStringLiteral("Checking the document's markup..."), this);
    m_checking->setObjectName(QStringLiteral("textChecking"));
    m_checking->hide();

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_filter);
    layout->addWidget(m_list->MakeHeader(
        {QStringLiteral("Line"), QStringLiteral("Type"), QStringLiteral("Message")}, this));
    layout->addWidget(m_list, 1);
    layout->addWidget(m_checking);

    connect(m_filter, &QComboBox::currentIndexChanged, this, [this] {
        if (m_started)
            fill();
    });
    connect(&m_check, &QFutureWatcher<Diagnostics::List>::finished, this, [this] {
        m_messages = m_check.result();
        m_ready = true;
        m_checking->hide();
        fill();
    });
}

CNodePropDgnostics::~CNodePropDgnostics()
{
    // The check shares the node's message holder: it must be done before
    // the node may be touched (or freed) again.
    m_check.waitForFinished();
}

void CNodePropDgnostics::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_started)
        start();
}

void CNodePropDgnostics::start()
{
    m_started = true;
    m_filter->setCurrentIndex(std::clamp(diagnosticsFilter, 0, 2));
    if (m_node && m_node->diagnostics.pending()) {
        // A deferred markup check runs on a worker; the page stays live and
        // fills when it is done.
        m_checking->show();
        fill();
        m_check.setFuture(QtConcurrent::run([d = m_node->diagnostics] { return d.get(); }));
        return;
    }
    if (m_node)
        m_messages = m_node->diagnostics.get();
    m_ready = true;
    fill();
}

void CNodePropDgnostics::fill()
{
    const int minimum = m_filter->currentIndex();
    diagnosticsFilter = minimum;
    m_list->SetTabStops({12, 20});
    m_list->clear();
    int widest = 0;
    if (m_messages)
        for (const DiagnosticRecord &record : *m_messages) {
            if (record.level < minimum)
                continue;
            widest
                = std::max(widest, m_list->AddLine(QString::fromStdString(DiagnosticLine(record))));
        }
    m_list->SetHorizontalExtent(widest);
    emit filled();
}

} // namespace sylvix
