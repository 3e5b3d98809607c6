#pragma once

// The Diagnostics page of the node property sheet: the parser's messages
// for the node, filtered by a lowest severity that the run remembers.

#include "model/SiteNode.h"

#include <QFutureWatcher>
#include <QWidget>

class QComboBox;
class QLabel;

namespace sylvix {

class CTabbedList;

// The filter last chosen on any Diagnostics page (0 all, 1 warnings and
// errors, 2 errors), for the run only.
extern int diagnosticsFilter;

class CNodePropDgnostics : public QWidget
{
    Q_OBJECT

public:
    explicit CNodePropDgnostics(SiteNode *node, QWidget *parent = nullptr);
    ~CNodePropDgnostics() override;

    CTabbedList *list() const { return m_list; }
    QComboBox *filter() const { return m_filter; }
    // False while the node's markup check is still running.
    bool ready() const { return m_ready; }

signals:
    void filled(); // the list shows the messages as they stand now

protected:
    void showEvent(QShowEvent *event) override;

private:
    void start();
    void fill();

    SiteNode *m_node;
    CTabbedList *m_list;
    QComboBox *m_filter;
    QLabel *m_checking;
    Diagnostics::List m_messages;
    QFutureWatcher<Diagnostics::List> m_check;
    bool m_started = false;
    bool m_ready = false;
};

} // namespace sylvix
