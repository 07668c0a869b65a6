#pragma once

#include "db/Connection.h"
#include "db/DbError.h"
#include "db/RowRecord.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <array>
#include <map>
#include <memory>
#include <optional>
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
// kept compactly (UTF-8 bytes and floats) and formatted only when the view
// asks for a cell.
//
// A table's rows whose engine numbers them (Connection::rowIdentity()) are
// read in windows as the view asks for them: the first window from the
// newest row, the others by the identities of their neighbours (a window
// of rows below the last one known), by a sparse map of every window's
// first identity, or from the nearer end of the list. The number of rows
// is counted apart (in another thread on a connection of its own when the
// engine gives one) and never delays the first window; until it is known
// the list grows as the view scrolls (fetchMore()). A few windows are kept,
// so memory stays flat at any size. The list shows the rows that were
// there when it was filled: a row added later appears after a refill.
// Any other result (fill(RowSet&), add()) is read whole.
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

    // Rows in a window, for the lists made from now on (at least 1).
    static void setDefaultWindowRows(int rows);
    static int defaultWindowRows();

    // Whether a list read in windows counts its rows on a thread with a
    // connection of its own (the default, so that a window is never kept
    // waiting). A list read through at once (a report written to a file)
    // counts on its own connection when countAll() asks, and opens none.
    void setCountInBackground(bool background);

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
    // The same for a reader that goes through the whole list (a report
    // written to a file): a window that cannot be read throws its DbError
    // here instead of being told by readFailed().
    QString checkedText(int row, int column) const;
    QStringList rowTexts(int row) const;
    // A cell's value as read: a float for a number column, else its text.
    QVariant value(int row, int column) const;
    // The engine's identity of a listed row (0 when it gave none).
    qint64 rowId(int row) const;

    // True once the number of rows is known (rowCount() is then all of
    // them); a list read whole always knows it.
    bool isCounted() const;
    // Every row of the list, counting them now when the count has not come
    // yet (for printing and export, which cover the whole list).
    int countAll() const;
    // Where the row of that identity stands, looked for in the windows
    // around near; -1 when it is not there.
    int rowOf(qint64 rowId, int near) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    const std::vector<Column>& columns() const { return m_columns; }

signals:
    // The number of rows is known now.
    void counted();
    // A window could not be read while the list was shown; told once, after
    // the reading that met it.
    void readFailed(const vok::DbError& error);

private:
    struct Window
    {
        std::vector<char> bytes;
        std::vector<quint32> starts; // each row's start in bytes, top row first
        std::vector<qint64> ids;
        quint64 used = 0;
    };
    struct CountJob;
    struct Changing;

    bool fillWindows(Connection& connection, const TableRows& select);
    // The window of that index, read when it is not kept; nullptr when it
    // cannot be read.
    const Window* window(int index) const;
    void loadWindows(int index) const;
    void keepWindow(int index, Window window) const;
    void appendTo(Window& window, const RowSet& rows) const;
    void startCount();
    // Counts on the list's own connection.
    void countHere(quint64 generation);
    void applyCount(quint64 generation, qint64 rows);
    void applyMarks(quint64 generation, std::vector<qint64> marks);
    void stopCount();
    void noteFailure(const DbError& error) const;
    // The arena row or the window row where a row's cells start.
    const char* rowStart(int row) const;
    // Measures a row read for the list, its cells in the scratch below,
    // and writes it.
    size_t measureRow(const RowSet& rows) const;
    void writeRow(char* p) const;

    // Reads a result's rows into the list, after dropping the rows listed
    // when replace is set.
    void read(RowSet* rows, Connection* connection, const TableRows& select, bool replace);
    // Appends one row read from the result (it ends up at the top).
    void appendRow(const RowSet& rows);
    void resolveSources(const RowSet& rows) const;
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
    // Windows: the rows, narrowed to those there at the fill (upTo).
    bool m_windowed = false;
    Connection* m_connection = nullptr;
    TableRows m_select;
    QString m_identity;
    qint64 m_top = 0;
    int m_windowRows;
    int m_shown = 0;
    std::optional<qint64> m_total;
    bool m_countInBackground = true;
    std::vector<qint64> m_marks; // the first identity of each window
    mutable std::map<int, Window> m_cache;
    mutable quint64 m_tick = 0;
    mutable int m_lastLoaded = -1;
    mutable int m_run = 1;
    mutable std::optional<DbError> m_failure;
    quint64 m_generation = 0;
    bool m_changing = false;
    std::shared_ptr<CountJob> m_job;
    // Whole reads: an arena of fixed blocks.
    std::vector<std::unique_ptr<char[]>> m_blocks;
    size_t m_blockUsed = 0;
    // Start of each row in the arena, in the order read, and its identity.
    std::vector<const char*> m_rows;
    std::vector<qint64> m_ids;
    // The result column each list column shows, for the fill under way.
    mutable std::vector<int> m_sources;
    // Per-row scratch of measureRow().
    mutable std::vector<QByteArrayView> m_views;
    mutable std::vector<float> m_values;
    mutable std::vector<std::array<char, kSingleTextBytes>> m_numberTexts;
};

} // namespace vok
