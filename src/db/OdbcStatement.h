#pragma once

// The ODBC handle code of the shared-server engine: a statement handle,
// parameters bound to it, and a row set reading its result.
#include "db/Connection.h"
#include "db/DbError.h"
#include "db/RowRecord.h"

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

// One column value of the current row: null, a number (double or
// integer), or text (dates already in their normalised form).
QVariant readCell(const Stmt& stmt, SQLUSMALLINT column, CellKind kind);

class OdbcRowSet : public RowSet
{
public:
    // With withRowId the row-order column, when the result has it, gives
    // each row's identity.
    OdbcRowSet(SQLHDBC dbc, const QString& sql, bool withRowId = false) : m_stmt(dbc)
    {
        m_stmt.execDirect(sql);
        SQLSMALLINT columns = 0;
        m_stmt.check(SQLNumResultCols(m_stmt.get(), &columns), "SQLNumResultCols");
        m_hasResult = columns > 0;
        for (SQLSMALLINT i = 1; i <= columns; ++i) {
            SQLWCHAR name[256] = {};
            SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            m_stmt.check(SQLDescribeColW(m_stmt.get(), SQLUSMALLINT(i), name,
                                         SQLSMALLINT(std::size(name)), &nameLength, &type, &size,
                                         &digits, &nullable),
                         "SQLDescribeCol");
            const QString columnName =
                QString::fromUtf16(reinterpret_cast<const char16_t*>(name),
                                   std::min<int>(nameLength, int(std::size(name)) - 1));
            // The row-order column is the server's bookkeeping: SELECT *
            // shows the table's own columns at their own positions.
            if (isRowOrderColumn(columnName)) {
                if (withRowId)
                    m_rowIdColumn = SQLUSMALLINT(i);
                continue;
            }
            m_names << columnName;
            m_numbers.push_back(SQLUSMALLINT(i));
            m_kinds.push_back(cellKind(type));
        }
        m_values.resize(m_numbers.size());
        m_utf8.resize(m_numbers.size());
    }

    bool next() override
    {
        if (!m_hasResult || m_atEnd)
            return false;
        const SQLRETURN rc = SQLFetch(m_stmt.get());
        if (rc == SQL_NO_DATA) {
            m_atEnd = true;
            SQLCloseCursor(m_stmt.get());
            return false;
        }
        m_stmt.check(rc, "SQLFetch");
        for (size_t i = 0; i < m_values.size(); ++i) {
            m_values[i] = readCell(m_stmt, m_numbers[i], m_kinds[i]);
            m_utf8[i].reset();
        }
        // The row-order column comes last: read after the others, as
        // SQLGetData wants columns in order.
        if (m_rowIdColumn)
            m_rowId = readCell(m_stmt, m_rowIdColumn, CellKind::Integer).toLongLong();
        return true;
    }

    qint64 rowId() const override { return m_rowId; }

    int columnCount() const override { return int(m_names.size()); }
    QString columnName(int column) const override { return m_names.at(column); }
    bool isNull(int column) const override { return m_values.at(size_t(column)).isNull(); }

    bool isNumber(int column) const override
    {
        const QVariant& v = m_values.at(size_t(column));
        return v.typeId() == QMetaType::Double || v.typeId() == QMetaType::LongLong;
    }

    QString text(int column) const override
    {
        const QVariant& v = m_values.at(size_t(column));
        if (v.isNull())
            return {};
        if (isNumber(column))
            return v.typeId() == QMetaType::LongLong ? QString::number(v.toLongLong())
                                                     : singleText(v.toDouble());
        return v.toString();
    }

    double number(int column) const override
    {
        const QVariant& v = m_values.at(size_t(column));
        if (isNumber(column))
            return v.toDouble();
        return v.toString().trimmed().toDouble();
    }

    QVariant value(int column) const override
    {
        const QVariant& v = m_values.at(size_t(column));
        if (v.typeId() == QMetaType::LongLong)
            return v.toDouble();
        return v;
    }

    QByteArrayView utf8(int column) const override
    {
        auto& cached = m_utf8.at(size_t(column));
        if (!cached)
            cached = text(column).toUtf8();
        return *cached;
    }

private:
    Stmt m_stmt;
    QStringList m_names;
    std::vector<SQLUSMALLINT> m_numbers; // the visible columns' numbers in the result
    std::vector<CellKind> m_kinds;
    std::vector<QVariant> m_values;
    mutable std::vector<std::optional<QByteArray>> m_utf8;
    SQLUSMALLINT m_rowIdColumn = 0;
    qint64 m_rowId = 0;
    bool m_hasResult = false;
    bool m_atEnd = false;
};

} // namespace vok::odbc
