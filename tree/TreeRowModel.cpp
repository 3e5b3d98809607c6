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
    if (!row || !row->listed)
        return -1;
    // Most look-ups ask again for a row that has not moved since.
    const int hint = row->indexHint;
    if (hint >= 0 && size_t(hint) < m_rows.size() && m_rows[size_t(hint)] == row)
        return hint;
    auto it = std::find(m_rows.begin(), m_rows.end(), row);
    if (it == m_rows.end())
        return -1;
    row->indexHint = int(it - m_rows.begin());
    return row->indexHint;
}

void TreeRowModel::insert(int index, const std::vector<CTreeRow *> &rows)
{
    if (rows.empty() || index < 0 || size_t(index) > m_rows.size())
        return;
    beginInsertRows(QModelIndex(), index, index + int(rows.size()) - 1);
    m_rows.insert(m_rows.begin() + index, rows.begin(), rows.end());
    for (size_t i = 0; i < rows.size(); ++i) {
        rows[i]->listed = true;
        rows[i]->indexHint = index + int(i);
    }
    endInsertRows();
}

void TreeRowModel::remove(int first, int count)
{
    if (count <= 0 || first < 0 || size_t(first + count) > m_rows.size())
        return;
    beginRemoveRows(QModelIndex(), first, first + count - 1);
    for (int i = first; i < first + count; ++i)
        m_rows[size_t(i)]->listed = false;
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
