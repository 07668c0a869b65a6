#include "ui/ListFrame.h"

#include <algorithm>

namespace vok {

namespace {
int g_frameRows = 200000;
}

void ListFrame::setDefaultFrameRows(int rows)
{
    g_frameRows = std::max(1, rows);
}

int ListFrame::defaultFrameRows()
{
    return g_frameRows;
}

ListFrame::ListFrame(QAbstractItemModel* list, QObject* parent)
    : QAbstractTableModel(parent), m_list(list), m_frameRows(g_frameRows)
{
    m_rows = std::min(listRows(), m_frameRows);
    connect(m_list, &QAbstractItemModel::modelAboutToBeReset, this, &ListFrame::beginResetModel);
    connect(m_list, &QAbstractItemModel::modelReset, this, [this] {
        m_offset = 0;
        m_rows = std::min(listRows(), m_frameRows);
        endResetModel();
    });
    // The list only grows or shrinks at its end (more rows read, or the
    // count arriving) and otherwise is reset.
    connect(m_list, &QAbstractItemModel::rowsInserted, this, &ListFrame::listGrew);
    connect(m_list, &QAbstractItemModel::rowsRemoved, this, &ListFrame::listShrank);
    connect(m_list, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to) {
                const int first = std::max(from.row() - m_offset, 0);
                const int last = std::min(to.row() - m_offset, m_rows - 1);
                if (first <= last)
                    emit dataChanged(index(first, from.column()), index(last, to.column()));
            });
}

bool ListFrame::isPartial() const
{
    return listRows() > m_frameRows;
}

int ListFrame::fitOffset(int offset) const
{
    return std::clamp(offset, 0, std::max(0, listRows() - m_frameRows));
}

void ListFrame::setOffset(int offset)
{
    offset = fitOffset(offset);
    if (offset == m_offset)
        return;
    m_offset = offset;
    if (m_rows > 0)
        emit dataChanged(index(0, 0), index(m_rows - 1, columnCount() - 1));
}

void ListFrame::listGrew()
{
    const int rows = std::min(listRows() - m_offset, m_frameRows);
    if (rows <= m_rows)
        return;
    beginInsertRows(QModelIndex(), m_rows, rows - 1);
    m_rows = rows;
    endInsertRows();
}

void ListFrame::listShrank()
{
    if (m_offset != fitOffset(m_offset)) {
        beginResetModel();
        m_offset = fitOffset(m_offset);
        m_rows = std::min(listRows() - m_offset, m_frameRows);
        endResetModel();
        return;
    }
    const int rows = std::min(listRows() - m_offset, m_frameRows);
    if (rows >= m_rows)
        return;
    beginRemoveRows(QModelIndex(), rows, m_rows - 1);
    m_rows = rows;
    endRemoveRows();
}

int ListFrame::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int ListFrame::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_list->columnCount();
}

QVariant ListFrame::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    return m_list->data(m_list->index(m_offset + index.row(), index.column()), role);
}

QVariant ListFrame::headerData(int section, Qt::Orientation orientation, int role) const
{
    return m_list->headerData(orientation == Qt::Vertical ? m_offset + section : section,
                              orientation, role);
}

bool ListFrame::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && m_offset + m_rows == listRows() && m_list->canFetchMore({});
}

void ListFrame::fetchMore(const QModelIndex& parent)
{
    if (canFetchMore(parent))
        m_list->fetchMore({});
}

} // namespace vok
