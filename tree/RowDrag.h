#pragma once

// What a row dragged onto another program carries: its local file as a
// file:// URI, or with Shift its URL, as text/uri-list and text/plain.

#include <QMimeData>
#include <QString>

#include <memory>

namespace sylvix {

class SiteNode;

class RowMimeData : public QMimeData
{
    Q_OBJECT

public:
    // file: the node's local file ("" when it has none); url: its URL.
    RowMimeData(QString file, QString url) : m_file(std::move(file)), m_url(std::move(url)) {}

    // Shift was seen during the drag: the URL goes instead of the file.
    void setShift(bool shift) { m_shift = shift; }
    bool shift() const { return m_shift; }
    // Whether the drop would deliver anything now.
    bool carries() const { return !chosen().isEmpty(); }

    QStringList formats() const override;
    bool hasFormat(const QString &mimeType) const override;

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    const QString &chosen() const { return m_shift ? m_url : m_file; }
    QString uriList() const;

    QString m_file;
    QString m_url;
    bool m_shift = false;
};

// The data of a drag of node's row; null when the node has neither a local
// file nor a URL, so that nothing can be dropped.
std::unique_ptr<RowMimeData> RowDragData(const SiteNode &node, bool shift);

} // namespace sylvix
