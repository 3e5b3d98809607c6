#include "tree/RowDrag.h"

#include "model/SiteNode.h"

#include <QUrl>

namespace sylvix {

namespace {

const QString kUriList = QStringLiteral("text/uri-list");
const QString kPlain = QStringLiteral("text/plain");

} // namespace

QStringList RowMimeData::formats() const
{
    if (!carries())
        return {};
    return {kUriList, kPlain};
}

bool RowMimeData::hasFormat(const QString &mimeType) const
{
    return carries() && (mimeType == kUriList || mimeType == kPlain);
}

QString RowMimeData::uriList() const
{
    const QUrl uri = m_shift ? QUrl(m_url) : QUrl::fromLocalFile(m_file);
    return QString::fromUtf8(uri.toEncoded()) + QStringLiteral("\r\n");
}

QVariant RowMimeData::retrieveData(const QString &mimeType, QMetaType type) const
{
    if (!carries())
        return {};
    if (mimeType == kPlain)
        return chosen();
    if (mimeType == kUriList) {
        // QMimeData::urls() asks for a list; a drop target asks for bytes.
        const QUrl uri = m_shift ? QUrl(m_url) : QUrl::fromLocalFile(m_file);
        if (type.id() == QMetaType::QVariantList || type.id() == QMetaType::QUrl)
            return QVariantList{uri};
        return uriList().toUtf8();
    }
    return {};
}

std::unique_ptr<RowMimeData> RowDragData(const SiteNode &node, bool shift)
{
    auto data = std::make_unique<RowMimeData>(QString::fromStdString(node.localPath.str()),
                                              QString::fromStdString(node.url.str()));
    if (node.localPath.empty() && node.url.empty())
        return nullptr;
    data->setShift(shift);
    return data;
}

} // namespace sylvix
