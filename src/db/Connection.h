#pragma once

#include "db/Dialect.h"
#include "db/RowRecord.h"
#include "db/SqlText.h"

#include <QByteArrayView>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>

namespace vok {

class DbError;

// A forward-only result of a row query. next() moves to the first row on
// its first call. Reading a column out of range is a programming error.
class RowSet
{
public:
    virtual ~RowSet();

    // Moves to the next row; false at the end. Throws DbError.
    virtual bool next() = 0;
    virtual int columnCount() const = 0;
    virtual QString columnName(int column) const = 0;

    virtual bool isNull(int column) const = 0;
    // The value as text: numbers without trailing zeros, dates in their
    // normalised form ("YYYY-MM-DD HH:MM:SS", date-only columns "YYYY-MM-DD").
    virtual QString text(int column) const = 0;
    virtual double number(int column) const = 0;
    // The value as QString, double or null QVariant.
    virtual QVariant value(int column) const = 0;
    // True when the column holds a number (REAL) in this row.
    virtual bool isNumber(int column) const = 0;
    // The text of a non-number column as UTF-8 bytes, valid until next();
    // the fast path for long lists.
    virtual QByteArrayView utf8(int column) const = 0;

    // One cell of the current row read in one call, for long lists: a
    // null, a number, or a text's UTF-8 bytes (valid until next()).
    struct Cell
    {
        enum Kind : unsigned char
        {
            Null,
            Number,
            Text
        };
        Kind kind = Null;
        double number = 0;
        QByteArrayView utf8 = {};
    };
    virtual Cell cell(int column) const;

    int indexOf(QStringView name) const; // case-insensitive, -1 if absent
    QString text(const QString& name) const;
    QVariant value(const QString& name) const;
    // Reads the row into a row record by position.
    void readInto(RowRecord& record) const;

    // The engine's own identity of the current row in a result of
    // Connection::select() with row ids (the embedded engine's rowid, the
    // server's row number); 0 when the engine gives none.
    virtual qint64 rowId() const { return 0; }
};

// A row opened for update: the first row the SELECT found, bound to a row
// record. store() writes back the fields that changed, provided the row is
// still as it was read (optimistic locking); otherwise it throws and
// changes nothing. With no row found, store() throws.
class RowUpdate
{
public:
    virtual ~RowUpdate();

    bool found() const { return m_found; }
    RowRecord& record() { return m_record; }
    const RowRecord& record() const { return m_record; }
    virtual void store() = 0;

protected:
    explicit RowUpdate(const TableDef& table) : m_record(table) {}
    bool m_found = false;
    RowRecord m_record;
};

// Rows of one table: those that meet a condition in the engine's own SQL,
// composed of the program's text and names, with a ? for each value bound
// to it (no condition: every row). The table is a plain name of the
// schema; the engine quotes it as it must.
struct TableRows
{
    QString table;
    SqlText condition = {};
    QVariantList values = {};
};

// A window of a table's rows taken in the order of their identities
// (Connection::rowIdentity()): at most limit rows, newest or oldest first,
// after skipping offset rows, of those whose identity lies below `below`
// and above `above` (each bound left out when absent), and at most `upTo`.
struct RowWindow
{
    bool newestFirst = true;
    qint64 limit = 0;
    qint64 offset = 0;
    std::optional<qint64> below = {};
    std::optional<qint64> above = {};
    std::optional<qint64> upTo = {};
};

// One open database connection. Every form reaches its department's
// database through one of these and never talks to an engine directly.
// The rows of a table are reached as TableRows; the few texts the core
// composes itself run through queryWith() and executeWith(). Values are
// always bound to a ?, never written into the text. Every failure is
// thrown as DbError.
class Connection
{
public:
    virtual ~Connection();

    virtual Engine engine() const = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;
    // Opens the connection afresh with what it was first opened with, for
    // when the link to a server broke (DbError::Failure::ConnectionLost):
    // every holder of the connection works again. Whatever transaction was
    // open is gone (the server rolled it back). Throws DbError.
    void reopen();

    // Table append: one row from parallel lists of column names and values
    // (QString, float/double, int, or a null QVariant).
    virtual void append(const QString& table, const QStringList& names,
                        const QVariantList& values) = 0;
    // Many rows appended to one table in turn: row() fills the values of
    // the next row (one a name) and returns false when none is left. The
    // embedded engine prepares its statement once for all of them.
    virtual void appendRows(const QString& table, const QStringList& names,
                            const std::function<bool(QVariantList&)>& row);

    // A table append that gives way to a row already holding the same unique
    // key: then nothing is added and it returns false. On the server it
    // first waits for another transaction adding that key to end.
    virtual bool appendUnlessPresent(const QString& table, const QStringList& names,
                                     const QVariantList& values) = 0;

    // The rows of one table, values bound. Rows come in the order the
    // table keeps them (the order they were added).
    virtual std::unique_ptr<RowSet> select(const TableRows& rows, bool withRowIds = false) = 0;
    // The column that numbers a table's rows in the order they were added,
    // through an index, so that a window of them costs the same anywhere
    // in the table; empty when the table has none (its rows are then read
    // whole).
    virtual QString rowIdentity(const QString& table)
    {
        Q_UNUSED(table);
        return {};
    }
    // A window of the rows, each with its identity (RowSet::rowId()), for
    // a table with a row identity.
    std::unique_ptr<RowSet> selectWindow(const TableRows& rows, const RowWindow& window);
    // The rows narrowed to identities of the window's bounds (below, above,
    // upTo); the identity column as rowIdentity() gave it.
    TableRows bounded(const TableRows& rows, const QString& identity,
                      const RowWindow& window) const;
    // What opens another connection to the same database, to read in
    // another thread (a connection is used by one thread only); empty when
    // there is no such way. The function may be called in any thread.
    virtual std::function<std::shared_ptr<Connection>()> readerOpener() const { return {}; }
    // The embedded engine's database file; empty on a server.
    virtual QString databaseFile() const { return {}; }
    virtual std::unique_ptr<RowUpdate> openRow(const TableRows& rows, const TableDef& table) = 0;
    // Inside a transaction: keeps the rows from every other connection
    // until the transaction ends and returns how many there are. On the
    // server each row is locked (SELECT … FOR UPDATE, waiting for a
    // connection that holds it); the embedded engine's transactions hold the
    // database's write lock from their start, which covers every row.
    // Outside a transaction it throws.
    virtual qint64 lock(const TableRows& rows) = 0;
    qint64 count(const TableRows& rows);
    // Deletes the rows; returns how many went.
    qint64 remove(const TableRows& rows);
    // A text in the engine's own SQL with a ? for each value: a row query
    // and a statement (one statement a text). Only the core composes
    // these. What it joins into a text (QString::arg or +) is a table or
    // column name of the schema's descriptions, an operator of a fixed
    // few, or a ? marker; a value never, however harmless it looks.
    virtual std::unique_ptr<RowSet> queryWith(const QString& sql, const QVariantList& values) = 0;
    virtual qint64 executeWith(const QString& sql, const QVariantList& values) = 0;
    // A table or column name as this engine's SQL writes it.
    QString name(QStringView identifier) const { return quoteIdentifier(identifier, engine()); }
    // "t WHERE condition" or "t" for the rows, the table's name quoted.
    QString fromClause(const TableRows& rows) const;
    SqlText fromText(const TableRows& rows) const;

    // Transactions; see Transaction below. Nested begins are counted and
    // only the outermost commit or rollback reaches the engine.
    void begin();
    void commit();
    void rollback();
    bool inTransaction() const { return m_depth > 0; }

protected:
    // The rows of "SELECT * FROM <from>" (values bound), each with its
    // identity; from ends with the order and the limit.
    virtual std::unique_ptr<RowSet> selectWithIds(const SqlText& from, const QVariantList& values);
    virtual void beginEngine() = 0;
    virtual void commitEngine() = 0;
    virtual void rollbackEngine() = 0;
    // An engine whose link cannot break (a file) has nothing to do.
    virtual void reopenEngine() {}
    // What an action on a closed connection is told: by default that it
    // is closed; a connection whose reopening failed says the link is
    // still lost, so that the reconnect is offered again.
    virtual DbError closedError() const;
    void checkOpen() const;
    // lock() needs a transaction to keep the lock in.
    void checkInTransaction() const;
    // What append() and appendUnlessPresent() are given: a plain table
    // name, one value for each of at least one plain column name.
    static void checkAppendArguments(const QString& table, const QStringList& names,
                                     const QVariantList& values);

private:
    int m_depth = 0;
    bool m_failed = false;
};

using ConnectionPtr = std::shared_ptr<Connection>;

// A change of several statements: everything or nothing. Roll back unless
// commit() was called before the object goes.
class Transaction
{
public:
    explicit Transaction(Connection& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

private:
    Connection& m_connection;
    bool m_done = false;
};

// The parts of an ODBC-style connection string "DSN=…;UID=…;PWD=…".
struct ConnectionString
{
    QString dsn;
    QString uid;
    QString pwd;

    // Formats the string; a value holding ';', '{' or '}' is put in braces
    // so that it cannot add keys of its own.
    QString toString() const;
    static ConnectionString parse(const QString& text);
};

// Opens a connection from a connection string. When unixODBC defines the
// data source, it is opened through ODBC; otherwise the embedded database
// file "<dsn in lower case>.db" in the data folder, created with the nine
// tables when there is no such file (see openSqliteConnection). Throws
// DbError.
ConnectionPtr openConnection(const QString& connectionString);

// True when unixODBC knows a data source of that name.
bool odbcDataSourceExists(const QString& dsn);

} // namespace vok
