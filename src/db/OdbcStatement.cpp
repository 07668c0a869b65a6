// Statement handles, bound parameters and result reading through the
// unixODBC C API, with the driver's diagnostic records as error texts.
#include "db/OdbcStatement.h"

#include "db/Schema.h"

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
        d.state == QLatin1String("08S01") || d.state == QLatin1String("08003") ||
        d.state == QLatin1String("08006") || d.state.startsWith(QLatin1String("57P")))
        return F::ConnectionLost;
    if (d.state == QLatin1String("08001") || d.state == QLatin1String("08004") ||
        says("could not connect to server") || says("connection refused"))
        return F::Unreachable;
    if (d.state == QLatin1String("23505"))
        return F::Unique;
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

QVariant readCell(const Stmt& stmt, SQLUSMALLINT column, CellKind kind)
{
    SQLLEN indicator = 0;
    SQLRETURN rc;
    switch (kind) {
    case CellKind::Integer: {
        SQLBIGINT v = 0;
        rc = SQLGetData(stmt.get(), column, SQL_C_SBIGINT, &v, 0, &indicator);
        stmt.check(rc, "SQLGetData");
        if (indicator == SQL_NULL_DATA)
            return {};
        return QVariant::fromValue(qint64(v));
    }
    case CellKind::Real: {
        double v = 0;
        rc = SQLGetData(stmt.get(), column, SQL_C_DOUBLE, &v, 0, &indicator);
        stmt.check(rc, "SQLGetData");
        if (indicator == SQL_NULL_DATA)
            return {};
        return v;
    }
    case CellKind::Date: {
        SQL_DATE_STRUCT d{};
        rc = SQLGetData(stmt.get(), column, SQL_C_TYPE_DATE, &d, sizeof d, &indicator);
        stmt.check(rc, "SQLGetData");
        if (indicator == SQL_NULL_DATA)
            return {};
        return QString::asprintf("%04d-%02d-%02d", int(d.year), int(d.month), int(d.day));
    }
    case CellKind::Timestamp: {
        SQL_TIMESTAMP_STRUCT t{};
        rc = SQLGetData(stmt.get(), column, SQL_C_TYPE_TIMESTAMP, &t, sizeof t, &indicator);
        stmt.check(rc, "SQLGetData");
        if (indicator == SQL_NULL_DATA)
            return {};
        return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", int(t.year), int(t.month),
                                 int(t.day), int(t.hour), int(t.minute), int(t.second));
    }
    case CellKind::Text:
        break;
    }
    QString out;
    SQLWCHAR buffer[1024];
    constexpr SQLLEN capacity = SQLLEN(std::size(buffer) - 1); // characters, zero excluded
    for (;;) {
        rc = SQLGetData(stmt.get(), column, SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
        if (rc == SQL_NO_DATA)
            break;
        stmt.check(rc, "SQLGetData");
        if (indicator == SQL_NULL_DATA)
            return {};
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

bool isRowOrderColumn(QStringView name)
{
    return name.compare(QStringView(schema::RowOrderColumn), Qt::CaseInsensitive) == 0;
}

} // namespace vok::odbc
