#pragma once

// The Activity page of the node property sheet: the server's access-log
// lines for the node's document in the last so many days. The log is read
// on a worker; typing in "Days:" is debounced and only the answer to the
// latest request is shown.

#include "model/AccessLog.h"

#include <QWidget>

#include <cstdint>
#include <vector>

class QLineEdit;
class QTimer;

namespace sylvix {

class CTabbedList;
class SiteNode;

// The day count last used on any Activity page, for the run only.
extern int activityDays;

class CNodePropActivity : public QWidget
{
    Q_OBJECT

public:
    explicit CNodePropActivity(SiteNode *node, QWidget *parent = nullptr);

    CTabbedList *list() const { return m_list; }
    QLineEdit *days() const { return m_days; }
    // How long typing must pause before the log is read again.
    static constexpr int kDebounceMs = 250;

signals:
    // The latest request is answered: the list shows its result (or was
    // left as it was, when the node has no place in the server's URLs).
    void refilled();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refill();
    void showRecords(const std::vector<LogRecord> &records);

    SiteNode *m_node;
    QLineEdit *m_days;
    CTabbedList *m_list;
    QTimer *m_debounce;
    uint64_t m_latest = 0; // number of the latest request
    bool m_started = false;
};

} // namespace sylvix
