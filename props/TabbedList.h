#pragma once

// A list of one-line texts whose fields, separated by tabs, line up at tab
// stops, with a horizontal scroll extent set by its owner. Used by the
// Diagnostics and Activity pages.

#include <QListWidget>
#include <QStringList>

#include <vector>

class QLabel;

namespace sylvix {

class CTabbedList : public QListWidget
{
    Q_OBJECT

public:
    explicit CTabbedList(QWidget *parent = nullptr);

    // Each stop is m * w / b dialog units, with w the font's widest
    // character and b its average width (a dialog unit is b / 4 pixels).
    void SetTabStops(const std::vector<int> &multiples);
    const std::vector<int> &tabStops() const { return m_stopPixels; } // in pixels

    // Appends a line; returns its width with the tab stops.
    int AddLine(const QString &line);
    void SetHorizontalExtent(int width);
    int horizontalExtent() const { return m_extent; }
    QStringList lines() const;

    // Column headings placed over the list at its tab stops.
    QWidget *MakeHeader(const QStringList &titles, QWidget *parent);

private:
    void placeHeader();

    std::vector<int> m_stopPixels;
    int m_extent = 0;
    QWidget *m_header = nullptr;
    std::vector<QLabel *> m_headerLabels;
};

} // namespace sylvix
