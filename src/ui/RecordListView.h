#pragma once

#include "core/RecordListModel.h"

#include <QTableView>
#include <optional>

namespace vok {

// The list of a record browser: report style, full-row select, grid
// lines, one row chosen at a time. It owns its model.
class RecordListView : public QTableView
{
    Q_OBJECT
public:
    explicit RecordListView(std::vector<RecordListModel::Column> columns,
                            QWidget* parent = nullptr);

    RecordListModel* records() const { return m_model; }

    // Fills the list with the SELECT text's rows, newest read at the top.
    // A database failure is shown in the COM error box; the list keeps the
    // rows read before it. Returns false on failure. Filled again with rows
    // of the same table, the list keeps its place: the chosen row stays
    // chosen where it is still listed, and the rows in view stay in view.
    bool fill(Connection& connection, const TableRows& select);
    // Puts the SELECT text's rows above those listed, the same way.
    bool add(Connection& connection, const TableRows& select);

    // Column widths as parts of the list's outer width: width[i] =
    // outerWidth * numerators[i] / denominator (integer division).
    void setColumnShares(const std::vector<int>& numerators, int denominator);

signals:
    // The user chose a row (click, or moving to it with the keyboard).
    void rowChosen(int row);

protected:
    void keyPressEvent(QKeyEvent* event) override;
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

    RecordListModel* m_model;
    QString m_table;
    std::optional<Place> m_pending; // restored once the rows are counted
    std::vector<int> m_shares;
    int m_denominator = 0;
};

} // namespace vok
