#pragma once

// The ODBC handle code of the shared-server engine: a statement handle,
// parameters bound to it, and a row set reading its result.
#include "db/Connection.h"
#include "db/DbError.h"

#include <sql.h>
#include <sqlext.h>

#include <optional>
#include <vector>

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC with 2-byte SQLWCHAR expected");

namespace vok::odbc {

inline const SQLWCHAR* wide(const QString& s)
{
    return reinterpret_cast<const SQLWCHAR*>(s.utf16());
}

// The failure a handle's diagnostic records stand for, with their texts.
DbError odbcError(SQLSMALLINT type, SQLHANDLE handle, const char* what);

// A statement handle, freed with its owner.
class Stmt
{
public:
    explicit Stmt(SQLHDBC dbc)
    {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &m_h)))
            throw odbcError(SQL_HANDLE_DBC, dbc, "SQLAllocHandle");
        // The texts hold no ODBC escape clauses; braces are plain text.
        SQLSetStmtAttr(m_h, SQL_ATTR_NOSCAN, reinterpret_cast<SQLPOINTER>(SQL_NOSCAN_ON), 0);
    }
    ~Stmt()
    {
        if (m_h)
            SQLFreeHandle(SQL_HANDLE_STMT, m_h);
    }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    SQLHSTMT get() const { return m_h; }

    DbError error(const char* what) const { return odbcError(SQL_HANDLE_STMT, m_h, what); }

    void check(SQLRETURN rc, const char* what) const
    {
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
            throw error(what);
    }

    // Runs a text; SQL_NO_DATA (a change that touched no row) is success.
    void execDirect(const QString& sql)
    {
        check(SQLExecDirectW(m_h, const_cast<SQLWCHAR*>(wide(sql)), SQL_NTS), "SQLExecDirect");
    }

    qint64 rowCount() const
    {
        SQLLEN n = 0;
        if (!SQL_SUCCEEDED(SQLRowCount(m_h, &n)))
            return 0;
        return n < 0 ? 0 : qint64(n);
    }

private:
    SQLHSTMT m_h = SQL_NULL_HSTMT;
};

// Values bound as parameters; they live until the statement has run.
class Parameters
{
public:
    void bind(SQLHSTMT h, const QVariantList& values);

private:
    std::vector<QString> m_texts;
    std::vector<double> m_numbers;
    std::vector<SQLBIGINT> m_integers;
    std::vector<SQLLEN> m_indicators;
};

enum class CellKind
{
    Integer,
    Real,
    Date,
    Timestamp,
    Text
};

// How a column of a result type is read.
CellKind cellKind(SQLSMALLINT sqlType);
// True for the server's row-order column (hidden from every result).
bool isRowOrderColumn(QStringView name);

// A text column of the current row read whole with SQLGetData; nothing
// for NULL.
std::optional<QString> readText(const Stmt& stmt, SQLUSMALLINT column);

// The rows of a statement's result, fetched from the driver in blocks into
// buffers bound to the columns. A text longer than its buffer is read
// whole. Numbers are doubles (integers too), dates their normalised texts
// (fractions of a second dropped).
class OdbcRowSet : public RowSet
{
public:
    // With withRowId the row-order column, when the result has it, gives
    // each row's identity. The values are bound to the text's ? in turn.
    OdbcRowSet(SQLHDBC dbc, const QString& sql, bool withRowId = false,
               const QVariantList& values = {});

    bool next() override;
    qint64 rowId() const override;
    int columnCount() const override { return int(m_names.size()); }
    QString columnName(int column) const override { return m_names.at(column); }
    bool isNull(int column) const override;
    bool isNumber(int column) const override;
    QString text(int column) const override;
    double number(int column) const override;
    QVariant value(int column) const override;
    QByteArrayView utf8(int column) const override;
    Cell cell(int column) const override;

private:
    struct Column
    {
        SQLUSMALLINT number = 0; // in the result
        CellKind kind = CellKind::Text;
        SQLLEN width = 0;               // bytes of one cell in the buffer
        std::vector<SQLBIGINT> buffer;  // the block's cells (8-byte aligned)
        std::vector<SQLLEN> indicators; // their lengths or SQL_NULL_DATA
        // The current row's text when longer than the buffer.
        std::optional<QString> whole;
        // The current row's value as UTF-8, once asked for.
        mutable QByteArray utf8;
        mutable bool utf8Ready = false;
    };

    void bind(Column& column);
    const char* cell(const Column& column) const;
    bool cellIsNull(const Column& column) const;
    QStringView wideText(const Column& column) const;
    qint64 integer(const Column& column) const;
    double real(const Column& column) const;
    // A date or timestamp cell as "YYYY-MM-DD[ HH:MM:SS]" bytes.
    qsizetype formatDate(const Column& column, char* out) const;

    Stmt m_stmt;
    Parameters m_parameters;
    QStringList m_names;
    std::vector<Column> m_columns; // the visible columns
    std::optional<Column> m_rowIdColumn;
    std::vector<SQLUSMALLINT> m_status; // each fetched row's status
    SQLULEN m_fetched = 0;              // rows in the block
    SQLULEN m_row = 0;                  // the current row in the block
    bool m_hasResult = false;
    bool m_started = false;
    bool m_atEnd = false;
};

} // namespace vok::odbc
