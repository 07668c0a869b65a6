// Statement handles, bound parameters and result reading through the
// unixODBC C API, with the driver's diagnostic records as error texts.
#include "db/OdbcStatement.h"

#include "db/RowRecord.h"
#include "db/Schema.h"

#include <QStringEncoder>

#include <cstring>
#include <tuple>

namespace vok::odbc {

namespace {

struct Diagnostics
{
    QString text;  // every record's message, one a line
    QString state; // the first record's SQLSTATE
};

// The driver's diagnostic records of a handle.
Diagnostics diagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    Diagnostics out;
    QStringList messages;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR message[2048] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, message,
                                            SQLSMALLINT(std::size(message)), &length);
        if (!SQL_SUCCEEDED(rc))
            break;
        if (i == 1)
            out.state = QString::fromUtf16(reinterpret_cast<const char16_t*>(state), 5);
        const int n = std::min<int>(length, int(std::size(message)) - 1);
        QString m = QString::fromUtf16(reinterpret_cast<const char16_t*>(message), n).trimmed();
        if (!m.isEmpty() && !messages.contains(m))
            messages << m;
    }
    out.text = messages.join(QLatin1Char('\n'));
    return out;
}

// The failure a server's diagnostics stand for, as the user is told it.
// psqlODBC reports several causes under one SQLSTATE, so the server's own
// words decide between them.
DbError::Failure failureOf(const Diagnostics& d)
{
    using F = DbError::Failure;
    const auto says = [&](const char* words) {
        return d.text.contains(QLatin1String(words), Qt::CaseInsensitive);
    };
    if (d.state == QLatin1String("28000") || d.state == QLatin1String("28P01") ||
        says("password authentication failed") || says("no pg_hba.conf entry") ||
        (says("role \"") && says("does not exist")))
        return F::LoginRefused;
    if (says("server closed the connection") || says("no connection to the server") ||
        says("terminating connection") || says("could not send data to server") ||
        says("could not receive data from server") || says("connection to server was lost") ||
        says("connection lost") || says("connection dead") || d.state == QLatin1String("08S01") ||
        d.state == QLatin1String("08003") || d.state == QLatin1String("08006") ||
        d.state.startsWith(QLatin1String("57P")))
        return F::ConnectionLost;
    if (d.state == QLatin1String("08001") || d.state == QLatin1String("08004") ||
        says("could not connect to server") || says("connection refused"))
        return F::Unreachable;
    if (d.state == QLatin1String("23505"))
        return F::Unique;
    if (d.state.startsWith(QLatin1String("22")))
        return F::BadValue;
    if (d.state == QLatin1String("53100"))
        return F::DiskFull;
    if (d.state == QLatin1String("25006"))
        return F::ReadOnly;
    if (d.state == QLatin1String("55P03"))
        return F::Busy;
    return F::Other;
}

} // namespace

DbError odbcError(SQLSMALLINT type, SQLHANDLE handle, const char* what)
{
    Diagnostics d = diagnostics(type, handle);
    if (d.text.isEmpty())
        d.text = QStringLiteral("ODBC 调用 %1 失败。").arg(QLatin1String(what));
    return DbError(failureOf(d), d.text);
}

// The SQL type a column kind is stored as on the server; a bound value is
// cast to it so that a text like "12" lands in a REAL column, as the
void Parameters::bind(SQLHSTMT h, const QVariantList& values)
{
    const qsizetype n = values.size();
    m_texts.resize(size_t(n));
    m_numbers.resize(size_t(n));
    m_integers.resize(size_t(n));
    m_indicators.resize(size_t(n));
    for (qsizetype i = 0; i < n; ++i) {
        const QVariant& v = values.at(i);
        const auto k = size_t(i);
        const auto number = SQLUSMALLINT(i + 1);
        SQLRETURN rc;
        if (v.isNull() || !v.isValid()) {
            m_indicators[k] = SQL_NULL_DATA;
            rc = SQLBindParameter(h, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 1, 0,
                                  nullptr, 0, &m_indicators[k]);
        } else if (v.typeId() == QMetaType::Float || v.typeId() == QMetaType::Double) {
            m_numbers[k] = v.toDouble();
            m_indicators[k] = 0;
            rc = SQLBindParameter(h, number, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0,
                                  &m_numbers[k], 0, &m_indicators[k]);
        } else if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong ||
                   v.typeId() == QMetaType::UInt || v.typeId() == QMetaType::ULongLong) {
            m_integers[k] = v.toLongLong();
            m_indicators[k] = 0;
            rc = SQLBindParameter(h, number, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                                  &m_integers[k], 0, &m_indicators[k]);
        } else {
            m_texts[k] = v.toString();
            const QString& t = m_texts[k];
            m_indicators[k] = SQLLEN(t.size() * sizeof(SQLWCHAR));
            rc =
                SQLBindParameter(h, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                                 SQLULEN(std::max<qsizetype>(t.size(), 1)), 0,
                                 const_cast<SQLWCHAR*>(wide(t)), m_indicators[k], &m_indicators[k]);
        }
        if (!SQL_SUCCEEDED(rc))
            throw odbcError(SQL_HANDLE_STMT, h, "SQLBindParameter");
    }
}

CellKind cellKind(SQLSMALLINT sqlType)
{
    switch (sqlType) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
        return CellKind::Integer;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
        return CellKind::Real;
    case SQL_TYPE_DATE:
    case SQL_DATE:
        return CellKind::Date;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
        return CellKind::Timestamp;
    default:
        return CellKind::Text;
    }
}

std::optional<QString> readText(const Stmt& stmt, SQLUSMALLINT column)
{
    QString out;
    SQLWCHAR buffer[1024];
    constexpr SQLLEN capacity = SQLLEN(std::size(buffer) - 1); // characters, zero excluded
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc =
            SQLGetData(stmt.get(), column, SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
        if (rc == SQL_NO_DATA)
            break;
        stmt.check(rc, "SQLGetData");
        if (indicator == SQL_NULL_DATA)
            return std::nullopt;
        const SQLLEN available =
            indicator == SQL_NO_TOTAL ? capacity : SQLLEN(indicator / SQLLEN(sizeof(SQLWCHAR)));
        if (available > capacity) {
            out.append(reinterpret_cast<const QChar*>(buffer), capacity);
            continue; // more to come
        }
        out.append(reinterpret_cast<const QChar*>(buffer), available);
        if (rc == SQL_SUCCESS)
            break;
        if (indicator != SQL_NO_TOTAL)
            break;
    }
    return out;
}

namespace {

// Rows fetched at a time, and characters of a text cell held in the
// buffer (longer texts are read whole on their own).
constexpr SQLULEN kBlockRows = 256;
constexpr SQLLEN kTextChars = 255;

// value as "%0*d" writes it: the sign, then at least width characters
// with the sign, zeros in front.
char* putNumber(char* p, int value, int width)
{
    char digits[12];
    int n = 0;
    unsigned u = value < 0 ? 0u - unsigned(value) : unsigned(value);
    do {
        digits[n++] = char('0' + u % 10);
        u /= 10;
    } while (u);
    if (value < 0) {
        *p++ = '-';
        --width;
    }
    for (int i = n; i < width; ++i)
        *p++ = '0';
    while (n)
        *p++ = digits[--n];
    return p;
}

// The C type a kind of column is fetched as, and the bytes of one cell.
std::pair<SQLSMALLINT, SQLLEN> bufferOf(CellKind kind)
{
    switch (kind) {
    case CellKind::Integer:
        return {SQL_C_SBIGINT, sizeof(SQLBIGINT)};
    case CellKind::Real:
        return {SQL_C_DOUBLE, sizeof(double)};
    case CellKind::Date:
        return {SQL_C_TYPE_DATE, sizeof(SQL_DATE_STRUCT)};
    case CellKind::Timestamp:
        return {SQL_C_TYPE_TIMESTAMP, sizeof(SQL_TIMESTAMP_STRUCT)};
    case CellKind::Text:
        break;
    }
    return {SQL_C_WCHAR, (kTextChars + 1) * SQLLEN(sizeof(SQLWCHAR))};
}

} // namespace

OdbcRowSet::OdbcRowSet(SQLHDBC dbc, const QString& sql, bool withRowId, const QVariantList& values)
    : m_stmt(dbc)
{
    m_parameters.bind(m_stmt.get(), values);
    m_stmt.execDirect(sql);
    SQLSMALLINT columns = 0;
    m_stmt.check(SQLNumResultCols(m_stmt.get(), &columns), "SQLNumResultCols");
    m_hasResult = columns > 0;
    if (!m_hasResult)
        return;
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
        Column column;
        column.number = SQLUSMALLINT(i);
        column.kind = cellKind(type);
        // The row-order column is the server's bookkeeping: SELECT *
        // shows the table's own columns at their own positions.
        if (isRowOrderColumn(columnName)) {
            if (withRowId) {
                column.kind = CellKind::Integer;
                m_rowIdColumn = std::move(column);
            }
            continue;
        }
        m_names << columnName;
        m_columns.push_back(std::move(column));
    }
    m_stmt.check(SQLSetStmtAttr(m_stmt.get(), SQL_ATTR_ROW_BIND_TYPE,
                                reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0),
                 "SQLSetStmtAttr");
    m_stmt.check(SQLSetStmtAttr(m_stmt.get(), SQL_ATTR_ROW_ARRAY_SIZE,
                                reinterpret_cast<SQLPOINTER>(kBlockRows), 0),
                 "SQLSetStmtAttr");
    m_status.resize(kBlockRows);
    m_stmt.check(SQLSetStmtAttr(m_stmt.get(), SQL_ATTR_ROW_STATUS_PTR, m_status.data(), 0),
                 "SQLSetStmtAttr");
    m_stmt.check(SQLSetStmtAttr(m_stmt.get(), SQL_ATTR_ROWS_FETCHED_PTR, &m_fetched, 0),
                 "SQLSetStmtAttr");
    for (Column& column : m_columns)
        bind(column);
    if (m_rowIdColumn)
        bind(*m_rowIdColumn);
}

void OdbcRowSet::bind(Column& column)
{
    SQLSMALLINT type = SQL_C_WCHAR;
    std::tie(type, column.width) = bufferOf(column.kind);
    // Column-wise binding puts the cells of a fixed-size type (a date is 6
    // bytes) one after the other, whatever the buffer length says; only a
    // text's cells are spaced by the length. Cells are read with memcpy, so
    // they need no alignment.
    if (column.kind == CellKind::Text)
        column.width = (column.width + 7) / 8 * 8;
    column.buffer.resize((size_t(column.width) * kBlockRows + 7) / 8);
    column.indicators.resize(kBlockRows);
    m_stmt.check(SQLBindCol(m_stmt.get(), column.number, type, column.buffer.data(), column.width,
                            column.indicators.data()),
                 "SQLBindCol");
}

bool OdbcRowSet::next()
{
    if (!m_hasResult || m_atEnd)
        return false;
    if (!m_started || ++m_row >= m_fetched) {
        m_started = true;
        m_row = 0;
        m_fetched = 0;
        const SQLRETURN rc = SQLFetch(m_stmt.get());
        if (rc == SQL_NO_DATA || (SQL_SUCCEEDED(rc) && m_fetched == 0)) {
            m_atEnd = true;
            SQLCloseCursor(m_stmt.get());
            return false;
        }
        m_stmt.check(rc, "SQLFetch");
    }
    if (m_status[m_row] == SQL_ROW_ERROR)
        throw m_stmt.error("SQLFetch");
    // Texts longer than their buffer are read whole, in column order.
    bool positioned = false;
    for (Column& column : m_columns) {
        column.utf8Ready = false;
        column.whole.reset();
        if (column.kind != CellKind::Text)
            continue;
        const SQLLEN length = column.indicators[m_row];
        if (length != SQL_NO_TOTAL && length <= kTextChars * SQLLEN(sizeof(SQLWCHAR)))
            continue;
        if (!positioned) {
            m_stmt.check(
                SQLSetPos(m_stmt.get(), SQLSETPOSIROW(m_row + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE),
                "SQLSetPos");
            positioned = true;
        }
        column.whole = readText(m_stmt, column.number);
    }
    return true;
}

qint64 OdbcRowSet::rowId() const
{
    return m_rowIdColumn && !cellIsNull(*m_rowIdColumn) ? integer(*m_rowIdColumn) : 0;
}

const char* OdbcRowSet::cell(const Column& column) const
{
    return reinterpret_cast<const char*>(column.buffer.data()) + column.width * SQLLEN(m_row);
}

bool OdbcRowSet::cellIsNull(const Column& column) const
{
    return column.indicators[m_row] == SQL_NULL_DATA;
}

qint64 OdbcRowSet::integer(const Column& column) const
{
    SQLBIGINT v = 0;
    std::memcpy(&v, cell(column), sizeof v);
    return qint64(v);
}

QStringView OdbcRowSet::wideText(const Column& column) const
{
    if (column.whole)
        return *column.whole;
    return QStringView(reinterpret_cast<const char16_t*>(cell(column)),
                       qsizetype(column.indicators[m_row] / SQLLEN(sizeof(SQLWCHAR))));
}

qsizetype OdbcRowSet::formatDate(const Column& column, char* out) const
{
    char* p = out;
    const auto date = [&](int year, int month, int day) {
        p = putNumber(p, year, 4);
        *p++ = '-';
        p = putNumber(p, month, 2);
        *p++ = '-';
        p = putNumber(p, day, 2);
    };
    if (column.kind == CellKind::Date) {
        SQL_DATE_STRUCT d{};
        std::memcpy(&d, cell(column), sizeof d);
        date(d.year, d.month, d.day);
    } else {
        SQL_TIMESTAMP_STRUCT t{};
        std::memcpy(&t, cell(column), sizeof t);
        date(t.year, t.month, t.day);
        *p++ = ' ';
        p = putNumber(p, t.hour, 2);
        *p++ = ':';
        p = putNumber(p, t.minute, 2);
        *p++ = ':';
        p = putNumber(p, t.second, 2);
    }
    return p - out;
}

bool OdbcRowSet::isNull(int column) const
{
    return cellIsNull(m_columns.at(size_t(column)));
}

bool OdbcRowSet::isNumber(int column) const
{
    const Column& c = m_columns.at(size_t(column));
    return (c.kind == CellKind::Integer || c.kind == CellKind::Real) && !cellIsNull(c);
}

QString OdbcRowSet::text(int column) const
{
    const Column& c = m_columns.at(size_t(column));
    if (cellIsNull(c))
        return {};
    switch (c.kind) {
    case CellKind::Integer:
        return QString::number(integer(c));
    case CellKind::Real:
        return singleText(number(column));
    case CellKind::Date:
    case CellKind::Timestamp: {
        char out[64];
        return QString::fromLatin1(out, formatDate(c, out));
    }
    case CellKind::Text:
        break;
    }
    return wideText(c).toString();
}

double OdbcRowSet::real(const Column& column) const
{
    double v = 0;
    std::memcpy(&v, cell(column), sizeof v);
    return v;
}

double OdbcRowSet::number(int column) const
{
    const Column& c = m_columns.at(size_t(column));
    if (c.kind == CellKind::Real && !cellIsNull(c))
        return real(c);
    if (c.kind == CellKind::Integer && !cellIsNull(c))
        return double(integer(c));
    return text(column).trimmed().toDouble();
}

RowSet::Cell OdbcRowSet::cell(int column) const
{
    const Column& c = m_columns.at(size_t(column));
    if (cellIsNull(c))
        return {};
    if (c.kind == CellKind::Real)
        return {Cell::Number, real(c)};
    if (c.kind == CellKind::Integer)
        return {Cell::Number, double(integer(c))};
    return {Cell::Text, 0, utf8(column)};
}

QVariant OdbcRowSet::value(int column) const
{
    if (isNull(column))
        return {};
    if (isNumber(column))
        return number(column);
    return text(column);
}

QByteArrayView OdbcRowSet::utf8(int column) const
{
    const Column& c = m_columns.at(size_t(column));
    if (c.utf8Ready)
        return c.utf8;
    c.utf8Ready = true;
    if (cellIsNull(c)) {
        c.utf8.clear();
    } else if (c.kind == CellKind::Date || c.kind == CellKind::Timestamp) {
        c.utf8.resize(64);
        c.utf8.truncate(formatDate(c, c.utf8.data()));
    } else if (c.kind == CellKind::Text) {
        // Straight from the driver's UTF-16 buffer into the bytes.
        const QStringView wide = wideText(c);
        QStringEncoder encoder(QStringEncoder::Utf8);
        c.utf8.resize(encoder.requiredSpace(wide.size()));
        char* end = encoder.appendToBuffer(c.utf8.data(), wide);
        c.utf8.truncate(end - c.utf8.constData());
    } else {
        c.utf8 = text(column).toUtf8();
    }
    return c.utf8;
}

bool isRowOrderColumn(QStringView name)
{
    return name.compare(QStringView(schema::RowOrderColumn), Qt::CaseInsensitive) == 0;
}

} // namespace vok::odbc
