#pragma once

// The rows of a tree list, in list order. The model does not own them.

#include <QAbstractListModel>

#include <vector>

namespace sylvix {

class CTreeRow;

class TreeRowModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Roles { RowRole = Qt::UserRole + 1, LevelRole };

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    CTreeRow *rowAt(int index) const;
    int find(const CTreeRow *row) const; // -1 when absent
    // Inserts rows before index (index == count appends), all at once.
    void insert(int index, const std::vector<CTreeRow *> &rows);
    void remove(int first, int count);
    // The rows' texts or icons changed.
    void rowsChanged(int first, int last);

private:
    std::vector<CTreeRow *> m_rows;
};

} // namespace sylvix
