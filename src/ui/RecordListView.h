#pragma once

#include "core/RecordListModel.h"
#include "ui/ListFrame.h"

#include <QTableView>
#include <optional>

namespace vok {

// The list of a record browser and of the other forms that list rows:
// report style, full-row select, grid lines, one row chosen at a time. It
// owns its model.
//
// A long list is shown through a ListFrame: the view holds a run of rows
// around the ones in view, while its scroll bar, the chosen row and the
// rows it reports (rowChosen(), currentRow()) count rows of the whole list.
class RecordListView : public QTableView
{
    Q_OBJECT
public:
    explicit RecordListView(std::vector<RecordListModel::Column> columns,
                            QWidget* parent = nullptr);

    RecordListModel* records() const { return m_model; }
    // The run of rows the view holds (the whole list when it is short).
    ListFrame* frame() const { return m_frame; }

    // The chosen row of the list, -1 when none.
    int currentRow() const;
    // Chooses that row of the list and brings it into view.
    void chooseRow(int row);
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

    // Fills the list with the table's rows that select names (its values
    // bound), the last row read at the top. A database failure is shown in
    // the COM error box; the list keeps the rows read before it. Returns
    // false on failure. Filled again with rows of the same table, the list
    // keeps its place: the chosen row stays chosen where it is still
    // listed, and the rows in view stay in view.
    bool fill(Connection& connection, const TableRows& select);
    // Puts the rows select names above those listed, the same way.
    bool add(Connection& connection, const TableRows& select);

    // Column widths as parts of the list's outer width: width[i] =
    // outerWidth * numerators[i] / denominator (integer division).
    void setColumnShares(const std::vector<int>& numerators, int denominator);

signals:
    // The user chose a row (click, or moving to it with the keyboard).
    void rowChosen(int row);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;
    void resizeEvent(QResizeEvent* event) override;
    // A list without a name of its own is named by its window's title.
    void showEvent(QShowEvent* event) override;

private:
    // Where the user is in the list: the chosen row and the top row shown.
    struct Place
    {
        qint64 rowId = 0;
        int row = -1;
        int top = 0;
    };
    bool load(Connection& connection, const TableRows& select, bool replace);
    void restore(const Place& place);
    void applyShares();
    // Rows that fit in the viewport, at least one.
    int visibleRows() const;
    // Shows the list from that row down, moving the run when the rows in
    // view come near its ends.
    void showTop(int top);
    // Moves the run to start near offset, keeping the chosen row chosen.
    void moveFrame(int offset);

    RecordListModel* m_model;
    ListFrame* m_frame;
    // For a list longer than its run: the top row in view and the chosen
    // row, as rows of the list (the chosen row may lie outside the run).
    int m_top = 0;
    int m_current = -1;
    bool m_moving = false;
    bool m_laying = false;
    QString m_table;
    std::optional<Place> m_pending; // restored once the rows are counted
    std::vector<int> m_shares;
    int m_denominator = 0;
};

} // namespace vok
