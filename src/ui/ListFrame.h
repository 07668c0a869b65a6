#pragma once

#include <QAbstractTableModel>

namespace vok {

// A run of at most frameRows() consecutive rows of a long list, for its
// view: a table view keeps a header section per row, so a list of ten
// million rows would cost its view 80 MB. The view shows the run, and moves
// it (setOffset()) as the user scrolls; row r of the run is row offset() + r
// of the list. A list no longer than a run is shown whole.
class ListFrame : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit ListFrame(QAbstractItemModel* list, QObject* parent = nullptr);

    // Rows in a run, for the frames made from now on (at least 1).
    static void setDefaultFrameRows(int rows);
    static int defaultFrameRows();

    int frameRows() const { return m_frameRows; }
    int offset() const { return m_offset; }
    // True when the list is longer than a run.
    bool isPartial() const;
    // Moves the run to start at that row of the list (kept inside it);
    // the rows shown change in place.
    void setOffset(int offset);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    int listRows() const { return m_list->rowCount(); }
    int fitOffset(int offset) const;
    void listGrew();
    void listShrank();

    QAbstractItemModel* m_list;
    int m_frameRows;
    int m_offset = 0;
    int m_rows = 0;
};

} // namespace vok
