#include "tree/TreeRowModel.h"

#include "tree/TreeRow.h"

#include <algorithm>

namespace sylvix {

int TreeRowModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant TreeRowModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const CTreeRow *row = m_rows[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: return row->text;
    case Qt::DecorationRole: return row->icon;
    case LevelRole: return int(row->level);
    case RowRole: return QVariant::fromValue(static_cast<void *>(const_cast<CTreeRow *>(row)));
    default: return {};
    }
}

CTreeRow *TreeRowModel::rowAt(int index) const
{
    return index >= 0 && size_t(index) < m_rows.size() ? m_rows[size_t(index)] : nullptr;
}

int TreeRowModel::find(const CTreeRow *row) const
{
    auto it = std::find(m_rows.begin(), m_rows.end(), row);
    return it == m_rows.end() ? -1 : int(it - m_rows.begin());
}

void TreeRowModel::insert(int index, const std::vector<CTreeRow *> &rows)
{
    if (rows.empty() || index < 0 || size_t(index) > m_rows.size())
        return;
    beginInsertRows(QModelIndex(), index, index + int(rows.size()) - 1);
    m_rows.insert(m_rows.begin() + index, rows.begin(), rows.end());
    endInsertRows();
}

void TreeRowModel::remove(int first, int count)
{
    if (count <= 0 || first < 0 || size_t(first + count) > m_rows.size())
        return;
    beginRemoveRows(QModelIndex(), first, first + count - 1);
    m_rows.erase(m_rows.begin() + first, m_rows.begin() + first + count);
    endRemoveRows();
}

void TreeRowModel::rowsChanged(int first, int last)
{
    if (m_rows.empty() || first > last)
        return;
    emit dataChanged(index(first), index(last));
}

} // namespace sylvix
