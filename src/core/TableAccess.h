#pragma once

#include "core/Tables.h"
#include "db/Connection.h"

#include <functional>
#include <memory>
#include <optional>

namespace vok {

class RecordListModel;

// How a change of a listed row ended.
enum class RowOutcome
{
    Done,
    Gone,   // the row is no longer there
    Changed // another user changed it since it was listed
};

// A row as a list showed it: its identity on the engine (0: none) and its
// values as listed (none: not checked).
struct ListedRow
{
    qint64 rowId = 0;
    const RowRecord* values = nullptr;
};

// The typed operations of one table on one connection, values always
// bound. Every write first checks the permission rule: a read-only class
// (class 3) is refused with DbError, whatever window asks. Failures are
// thrown as DbError.
class TableAccess
{
public:
    // classNumber: the user's class; the default may only read.
    TableAccess(Connection& connection, const TableDescription& table, int classNumber = 3);

    Connection& connection() const { return m_connection; }
    const TableDescription& table() const { return m_table; }

    // Row selections.
    TableRows all() const;
    // The rows whose columns (positions in the table) hold these values: a
    // date column's value compared as a date (DbError when it is none), any
    // other as text.
    TableRows matching(std::span<const int> columns, const QStringList& values) const;
    TableRows matching(int column, const QString& value) const;
    // The rows of a query field's condition; nothing when no query field
    // has that text. Throws DbError for an operator or a date it cannot use.
    std::optional<TableRows> query(const QString& field, const QString& op,
                                   const QString& value) const;

    // Reading.
    std::unique_ptr<RowSet> list(const TableRows& rows) const;
    // Replaces a list's rows (add: puts them above those listed).
    void fill(RecordListModel& model, const TableRows& rows) const;
    void add(RecordListModel& model, const TableRows& rows) const;
    qint64 count(const TableRows& rows) const;
    // The first of the rows, nothing when there is none.
    std::optional<RowRecord> read(const TableRows& rows) const;

    // Writing.
    // One row: the values of the table's columns in their order.
    void append(const QVariantList& values) const;
    // Many rows: row() fills the next row's values and returns false when
    // none is left (run it inside a Transaction).
    void appendRows(const std::function<bool(QVariantList&)>& row) const;
    // Opens the first of the rows (narrowed to the listed row when it has
    // an identity), checks it still holds the listed values, lets change
    // alter it and stores the fields that changed. Without listed values a
    // row another user changed meanwhile is thrown as the engine's DbError.
    RowOutcome update(const TableRows& rows, const ListedRow& listed,
                      const std::function<void(RowRecord&)>& change) const;
    // Deletes the rows, in one transaction, provided the listed row is
    // still among them as listed; Gone when nothing was deleted.
    RowOutcome remove(const TableRows& rows, const ListedRow& listed) const;
    // Deletes the rows; returns how many went.
    qint64 remove(const TableRows& rows) const;
    // Deletes every row.
    void clear() const;

private:
    TableRows narrowed(const TableRows& rows, const ListedRow& listed) const;
    RowOutcome check(RowUpdate& row, const ListedRow& listed) const;

    Connection& m_connection;
    const TableDescription& m_table;
    int m_class;
};

// Deletes every row of a table of the schema, for a class that may write.
void clearTable(Connection& connection, int classNumber, const QString& table);
// The same for tables that are emptied together, in one transaction.
void clearTables(Connection& connection, int classNumber, const QStringList& tables);

} // namespace vok
