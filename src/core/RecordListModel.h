#pragma once

#include "db/Connection.h"
#include "db/RowRecord.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <array>
#include <memory>
#include <vector>

namespace vok {

// How a list column shows its value: the text as read, or a
// single-precision number formatted "%f". A figure is a number the table
// keeps as text: listed as read, exported as a number.
enum class ListColumn
{
    Text,
    Single,
    Figure
};

// The rows of a SELECT as a record browser lists them: every row read is
// put at the top, so the view shows the result in reverse order. Rows are
// kept compactly (UTF-8 bytes and floats in an arena of fixed blocks) and
// formatted only when the view asks for a cell, so a list of a million
// rows stays small and fills fast.
class RecordListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    struct Column
    {
        QString heading;
        ListColumn kind = ListColumn::Text;
        // The result column it shows, by name; empty: the column at the
        // same position.
        QString source = {};
    };

    explicit RecordListModel(std::vector<Column> columns, QObject* parent = nullptr);
    ~RecordListModel() override;

    // Replaces the rows with the table's rows, each with its identity on
    // the engine (rowId()). On a database failure the rows read so far stay
    // listed and the DbError is thrown on to the caller, which shows it.
    void fill(Connection& connection, const TableRows& rows);
    // Same, from a result already opened.
    void fill(RowSet& rows);
    // Puts the table's rows above the rows already listed (the last row
    // read at the top). A failure keeps every row read so far and throws
    // the DbError on.
    void add(Connection& connection, const TableRows& rows);
    void clear();

    // The text of a cell as the list shows it (row 0 is the top row).
    QString text(int row, int column) const;
    QStringList rowTexts(int row) const;
    // A cell's value as read: a float for a number column, else its text.
    QVariant value(int row, int column) const;
    // The engine's identity of a listed row (0 when it gave none).
    qint64 rowId(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    const std::vector<Column>& columns() const { return m_columns; }

private:
    // Reads a result's rows into the list, after dropping the rows listed
    // when replace is set.
    void read(RowSet* rows, Connection* connection, const TableRows& select, bool replace);
    // Appends one row read from the result (it ends up at the top).
    void appendRow(const RowSet& rows);
    void resolveSources(const RowSet& rows);
    void reset();
    char* reserve(size_t bytes);
    const char* cell(int row, int column) const;
    // A listed cell as stored: a float or UTF-8 bytes; not valid outside
    // the list.
    struct StoredCell
    {
        bool valid = false;
        bool single = false;
        float number = 0;
        QByteArrayView utf8 = {};
    };
    StoredCell stored(int row, int column) const;

    std::vector<Column> m_columns;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    size_t m_blockUsed = 0;
    // Start of each row in the arena, in the order read, and its identity.
    std::vector<const char*> m_rows;
    std::vector<qint64> m_ids;
    // The result column each list column shows, for the fill under way.
    std::vector<int> m_sources;
    // Per-row scratch of appendRow().
    std::vector<QByteArrayView> m_views;
    std::vector<float> m_values;
    std::vector<std::array<char, kSingleTextBytes>> m_numberTexts;
};

} // namespace vok
