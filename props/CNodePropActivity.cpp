#include "props/CNodePropActivity.h"

#include "model/Config.h"
#include "props/PropertyRules.h"
#include "props/TabbedList.h"

#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <ctime>

namespace sylvix {

int activityDays = 1;

CNodePropActivity::CNodePropActivity(SiteNode *node, QWidget *parent)
    : QWidget(parent), m_node(node)
{
    setObjectName(QStringLiteral("pageActivity"));
    setWindowTitle(QStringLiteral("Activity"));
    m_days = new QLineEdit(QString::number(std::max(0, activityDays)), this);
    m_days->setObjectName(QStringLiteral("editDays"));
    m_days->setMaxLength(15);
    m_days->setMaximumWidth(m_days->fontMetrics().horizontalAdvance(QStringLiteral("0")) * 16);
    m_list = new CTabbedList(this);
    m_list->setObjectName(QStringLiteral("listEntries"));
    m_list->SetTabStops({20, 76});

    auto *daysRow = new QHBoxLayout;
    auto *daysLabel = new QLabel(QStringLiteral("Days:"), this);
    daysLabel->setBuddy(m_days);
    daysRow->addWidget(daysLabel);
    daysRow->addWidget(m_days);
    daysRow->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(daysRow);
    layout->addWidget(m_list->MakeHeader(
        {QStringLiteral("Status"), QStringLiteral("Request Time"), QStringLiteral(" IP Address")},
        this));
    layout->addWidget(m_list, 1);

    m_debounce = new QTimer(this);
    m_debounce->setSingleShot(true);
    m_debounce->setInterval(kDebounceMs);
    connect(m_debounce, &QTimer::timeout, this, &CNodePropActivity::refill);
    connect(m_days, &QLineEdit::textChanged, this, [this] {
        activityDays = ParseDayCount(m_days->text().toStdString());
        ++m_latest; // whatever is still being read is now stale
        m_debounce->start();
    });
}

void CNodePropActivity::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_started) {
        m_started = true;
        refill();
    }
}

void CNodePropActivity::refill()
{
    m_debounce->stop();
    const uint64_t request = ++m_latest;
    const int days = ParseDayCount(m_days->text().toStdString());
    activityDays = days;
    // The server's values and the log's place are read here, on the thread
    // that owns the store; only the log itself is read on the worker.
    const std::optional<std::string> key
        = m_node ? ActivityKey(*m_node, LocalServerPaths(LocalStore())) : std::nullopt;
    if (!key) {
        emit refilled();
        return;
    }
    const std::string log = AccessLogPath();
    auto *watcher = new QFutureWatcher<std::vector<LogRecord>>(this);
    connect(watcher, &QFutureWatcher<std::vector<LogRecord>>::finished, this,
            [this, watcher, request] {
                watcher->deleteLater();
                if (request != m_latest)
                    return; // the day count changed since this read began
                showRecords(watcher->result());
                emit refilled();
            });
    watcher->setFuture(QtConcurrent::run([log, path = *key, days] {
        std::vector<LogRecord> records;
        if (!log.empty())
            ReadAccessLogFile(log, path, days, std::time(nullptr), records);
        return records;
    }));
}

void CNodePropActivity::showRecords(const std::vector<LogRecord> &records)
{
    m_list->clear();
    int widest = 0;
    for (const LogRecord &record : records)
        widest = std::max(widest, m_list->AddLine(QString::fromStdString(ActivityLine(record))));
    m_list->SetHorizontalExtent(widest);
}

} // namespace sylvix
