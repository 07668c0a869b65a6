// The shared-server engine: a data source that unixODBC defines, in
// practice PostgreSQL through psqlODBC.
//
// This talks to the unixODBC C API directly rather than through Qt's ODBC
// SQL driver: the connection needs typed column reads (dates as dates,
// REAL as numbers), per-statement row counts, parameter binding for the
// table append, the driver's own diagnostic records as error texts, and
// control of autocommit for transactions, all of which the plain API gives
// without an extra layer (and without the Qt SQL plugin as a dependency).
//
// Credentials: the connection string's UID and PWD are the program
// account (a row of the `user` table, checked by the log-in); they are
// never handed to the driver. The driver connects with the database
// account stored in the data source itself (odbc.ini Username/Password),
// so one site can run all five departments on one server with a single
// database role, and no program user needs a role of their own.
#include "db/OdbcConnection.h"

#include "db/DbError.h"
#include "db/Schema.h"

#include <QHash>
#include <QRegularExpression>

#include <sql.h>
#include <sqlext.h>

#include <optional>
#include <vector>

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC with 2-byte SQLWCHAR expected");

namespace vok {

namespace {

constexpr SQLULEN kLoginTimeoutSeconds = 15;

const SQLWCHAR* wide(const QString& s)
{
    return reinterpret_cast<const SQLWCHAR*>(s.utf16());
}

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

DbError odbcError(SQLSMALLINT type, SQLHANDLE handle, const char* what)
{
    Diagnostics d = diagnostics(type, handle);
    if (d.text.isEmpty())
        d.text = QStringLiteral("ODBC 调用 %1 失败。").arg(QLatin1String(what));
    return DbError(failureOf(d), d.text);
}

// The SQL type a column kind is stored as on the server; a bound value is
// cast to it so that a text like "12" lands in a REAL column, as the
// embedded engine takes it.
QString serverType(ColumnKind kind)
{
    switch (kind) {
    case ColumnKind::Text:
        return QStringLiteral("TEXT");
    case ColumnKind::Number:
        return QStringLiteral("REAL");
    case ColumnKind::DateTime:
        return QStringLiteral("TIMESTAMP");
    case ColumnKind::Date:
        return QStringLiteral("DATE");
    }
    return QStringLiteral("TEXT");
}

QString quotedColumn(const QString& name)
{
    if (name.compare(QLatin1String("user"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("\"user\"");
    return name;
}

// Refuses a text that holds more than one statement (the driver would run
// them all) and drops a trailing ';'. Quoted texts and identifiers, and
// comments, are skipped; a nested comment is refused rather than guessed.
QString singleStatement(const QString& sql)
{
    const auto refuse = [] {
        return DbError(DbError::kFail, QStringLiteral("一次只能执行一条 SQL 语句。"));
    };
    const qsizetype n = sql.size();
    qsizetype end = -1; // position of the first ';' outside quotes
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            const qsizetype j = sql.indexOf(c, i + 1);
            if (j < 0)
                break; // unterminated: the server reports it
            i = j;
        } else if (c == QLatin1Char('-') && i + 1 < n && sql[i + 1] == QLatin1Char('-')) {
            const qsizetype j = sql.indexOf(QLatin1Char('\n'), i);
            if (j < 0)
                break;
            i = j;
        } else if (c == QLatin1Char('/') && i + 1 < n && sql[i + 1] == QLatin1Char('*')) {
            const qsizetype j = sql.indexOf(QLatin1String("*/"), i + 2);
            const qsizetype nested = sql.indexOf(QLatin1String("/*"), i + 2);
            if (nested >= 0 && (j < 0 || nested < j))
                throw refuse();
            if (j < 0)
                break;
            i = j + 1;
        } else if (c == QLatin1Char(';')) {
            if (end < 0)
                end = i;
        } else if (end >= 0 && !c.isSpace()) {
            throw refuse();
        }
    }
    return end < 0 ? sql : sql.left(end);
}

bool isRowOrderColumn(QStringView name)
{
    return name.compare(QStringView(schema::RowOrderColumn), Qt::CaseInsensitive) == 0;
}

// The text with everything between quotes blanked (the quotes kept, so
// positions match), for looking at the statement's own words. Empty when
// the text holds a comment or an unterminated quote.
QString blankQuoted(const QString& sql)
{
    QString out = sql;
    const qsizetype n = sql.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            const qsizetype j = sql.indexOf(c, i + 1);
            if (j < 0)
                return {};
            for (qsizetype k = i + 1; k < j; ++k)
                out[k] = QLatin1Char(' ');
            i = j;
        } else if ((c == QLatin1Char('-') || c == QLatin1Char('/')) && i + 1 < n &&
                   sql[i + 1] == (c == QLatin1Char('-') ? QLatin1Char('-') : QLatin1Char('*'))) {
            return {};
        }
    }
    return out;
}

// The table of a single-table "SELECT * FROM t [WHERE ...]" without an
// order, grouping or limit of its own (as the translated text names it:
// an identifier, or "user" quoted); empty for any other text.
QString plainSelectTable(const QString& translated)
{
    static const QRegularExpression shape(
        QStringLiteral("^\\s*SELECT\\s+\\*\\s+FROM\\s+(\"[^\"]*\"|[A-Za-z_][A-Za-z0-9_]*)"
                       "(?:\\s+WHERE\\b.*)?\\s*$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression ownClauses(
        QStringLiteral("\\b(ORDER|GROUP|HAVING|WINDOW|LIMIT|OFFSET|FETCH|UNION|INTERSECT|"
                       "EXCEPT|FOR)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    const QString blanked = blankQuoted(translated);
    if (blanked.isEmpty())
        return {};
    const auto m = shape.match(blanked);
    if (!m.hasMatch() || blanked.indexOf(ownClauses, m.capturedEnd(1)) >= 0)
        return {};
    const QString table = translated.mid(m.capturedStart(1), m.capturedLength(1));
    if (table.startsWith(QLatin1Char('"')) && table != QLatin1String("\"user\""))
        return {};
    return table;
}

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
    void bind(SQLHSTMT h, const QVariantList& values)
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
                rc = SQLBindParameter(h, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                                      SQLULEN(std::max<qsizetype>(t.size(), 1)), 0,
                                      const_cast<SQLWCHAR*>(wide(t)), m_indicators[k],
                                      &m_indicators[k]);
            }
            if (!SQL_SUCCEEDED(rc))
                throw odbcError(SQL_HANDLE_STMT, h, "SQLBindParameter");
        }
    }

private:
    std::vector<QString> m_texts;
    std::vector<double> m_numbers;
    std::vector<SQLBIGINT> m_integers;
    std::vector<SQLLEN> m_indicators;
};

// A blank text for a number or date column is no value (NULL), as the
// server cannot read it as a number or a date.
QVariant forColumn(const QVariant& v, ColumnKind kind)
{
    if (kind != ColumnKind::Text && v.typeId() == QMetaType::QString &&
        v.toString().trimmed().isEmpty())
        return QVariant();
    return v;
}

enum class CellKind
{
    Integer,
    Real,
    Date,
    Timestamp,
    Text
};

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

// One column value of the current row: null, a number (double), or text
// (dates already in their normalised form).
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

QString formatNumber(const QVariant& v)
{
    if (v.typeId() == QMetaType::LongLong)
        return QString::number(v.toLongLong());
    return QString::number(double(float(v.toDouble())), 'g', 7);
}

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
            return formatNumber(v);
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

class OdbcConnection;

// The row update on PostgreSQL: the row is identified by its physical
// place and the transaction that wrote this version of it (ctid, xmin).
// Any change by another connection makes a new version, so the UPDATE
// finds no row and nothing is written; a change still uncommitted makes
// the UPDATE wait for it and then find no row. The tables have no key, so
// this is also the only way to tell two equal rows apart.
class OdbcRowUpdate : public RowUpdate
{
public:
    OdbcRowUpdate(OdbcConnection& connection, const QString& translatedSelect,
                  const TableDef& table);
    void store() override;

private:
    OdbcConnection& m_connection;
    QString m_table;
    QString m_ctid;
    QString m_xmin;
    QStringList m_columns;
    RowRecord m_loaded;
};

class OdbcConnection : public Connection
{
public:
    explicit OdbcConnection(const ConnectionString& cs) : m_dsn(cs.dsn) { connect(); }

    ~OdbcConnection() override { closeDbc(); }

    Engine engine() const override { return Engine::Postgres; }
    bool isOpen() const override { return m_open; }
    void close() override { closeDbc(); }

    void execute(const QString& sql) override { executeCount(sql); }

    qint64 executeCount(const QString& sql) override
    {
        checkOpen();
        const QString text = prepare(sql);
        return guarded([&] {
            Stmt stmt(m_dbc);
            stmt.execDirect(text);
            return stmt.rowCount();
        });
    }

    std::unique_ptr<RowSet> query(const QString& sql) override
    {
        checkOpen();
        const QString text = prepare(sql);
        return withRowOrder(text, [&](const QString& ordered) -> std::unique_ptr<RowSet> {
            return std::make_unique<OdbcRowSet>(m_dbc, ordered);
        });
    }

    std::unique_ptr<RowSet> queryWithRowIds(const QString& sql) override
    {
        checkOpen();
        const QString text = prepare(sql);
        return withRowOrder(text, [&](const QString& ordered) -> std::unique_ptr<RowSet> {
            return std::make_unique<OdbcRowSet>(m_dbc, ordered, true);
        });
    }

    QString rowIdCondition(qint64 rowId) const override
    {
        return QStringLiteral("%1=%2").arg(QString::fromUtf16(schema::RowOrderColumn)).arg(rowId);
    }

    qint64 recordCount(const QString& sql) override
    {
        checkOpen();
        const QString text =
            QStringLiteral("SELECT COUNT(*) FROM (%1) AS vok_count").arg(prepare(sql));
        return guarded([&] {
            OdbcRowSet rs(m_dbc, text);
            return rs.next() ? qint64(rs.number(0)) : qint64(0);
        });
    }

    void append(const QString& table, const QStringList& names, const QVariantList& values) override
    {
        insert(table, names, values, QString());
    }

    // The insert waits for a transaction adding the same key and then adds
    // nothing; a database without the unique key adds the row.
    bool appendUnlessPresent(const QString& table, const QStringList& names,
                             const QVariantList& values) override
    {
        return insert(table, names, values, QStringLiteral(" ON CONFLICT DO NOTHING")) > 0;
    }

    qint64 lockRows(const QString& select) override
    {
        checkInTransaction();
        const QString text = prepare(select) + QLatin1String(" FOR UPDATE");
        return guarded([&] {
            OdbcRowSet rs(m_dbc, text);
            qint64 n = 0;
            while (rs.next())
                ++n;
            return n;
        });
    }

    std::unique_ptr<RowUpdate> openUpdate(const QString& select, const TableDef& table) override
    {
        checkOpen();
        const QString text = prepare(select);
        // The first row in the order of the lists, as on the embedded engine.
        return withRowOrder(text, [&](const QString& ordered) -> std::unique_ptr<RowUpdate> {
            return std::make_unique<OdbcRowUpdate>(*this, ordered, table);
        });
    }

    SQLHDBC dbc() const { return m_dbc; }

    // Runs f; an engine failure inside a transaction marks the transaction
    // as failed, as the server will not commit any of it.
    template <typename F> auto guarded(F&& f) -> decltype(f())
    {
        try {
            return f();
        } catch (const DbError& e) {
            if (m_inEngineTransaction)
                m_transactionFailed = true;
            // Inside a transaction the driver words a broken link after its
            // own bookkeeping ("internal SAVEPOINT failed"): ask it.
            if (e.failure() == DbError::Failure::ConnectionLost ||
                (e.failure() == DbError::Failure::Other && linkDead())) {
                m_lost = DbError(DbError::Failure::ConnectionLost, e.engineText());
                throw *m_lost;
            }
            throw;
        }
    }

    // Whether the driver knows the connection to be broken.
    bool linkDead() const
    {
        SQLUINTEGER dead = SQL_CD_FALSE;
        return SQL_SUCCEEDED(
                   SQLGetConnectAttr(m_dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
               dead == SQL_CD_TRUE;
    }

protected:
    void beginEngine() override
    {
        checkLink();
        setAutocommit(false);
        m_inEngineTransaction = true;
        m_transactionFailed = false;
    }

    void commitEngine() override
    {
        checkLink();
        if (m_transactionFailed) {
            rollbackEngine();
            throw DbError(DbError::kFail, QStringLiteral("事务中有语句执行失败，全部更改已撤销。"));
        }
        endTransaction(SQL_COMMIT);
    }

    void rollbackEngine() override
    {
        if (m_lost) {
            // The server dropped the transaction with the connection.
            m_inEngineTransaction = false;
            m_transactionFailed = false;
            return;
        }
        if (m_open && m_inEngineTransaction)
            endTransaction(SQL_ROLLBACK);
    }

    void reopenEngine() override
    {
        closeDbc();
        m_lost.reset();
        m_hasRowOrder.clear();
        connect();
    }

private:
    // One row from parallel lists, the SQL text ending in suffix; returns
    // the number of rows added.
    qint64 insert(const QString& table, const QStringList& names, const QVariantList& values,
                  const QString& suffix)
    {
        checkLink();
        if (!isPlainIdentifier(table) || names.isEmpty() || names.size() != values.size())
            throw DbError(DbError::kFail, QStringLiteral("添加记录的参数无效。"));
        for (const QString& n : names)
            if (!isPlainIdentifier(n))
                throw DbError(DbError::kFail, QStringLiteral("列名“%1”无效。").arg(n));
        const TableDef* def = schema::find(table);
        QStringList columns, markers;
        QVariantList bound;
        for (qsizetype i = 0; i < names.size(); ++i) {
            columns << quotedColumn(names.at(i));
            const int c = def ? def->indexOf(names.at(i)) : -1;
            if (c < 0) {
                markers << QStringLiteral("?");
                bound << values.at(i);
            } else {
                const ColumnKind kind = def->columns.at(size_t(c)).kind;
                markers << QStringLiteral("CAST(? AS %1)").arg(serverType(kind));
                bound << forColumn(values.at(i), kind);
            }
        }
        const QString tableName = table.compare(QLatin1String("user"), Qt::CaseInsensitive) == 0
                                      ? QStringLiteral("\"user\"")
                                      : table;
        const QString sql =
            QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                .arg(tableName, columns.join(QLatin1Char(',')), markers.join(QLatin1Char(','))) +
            suffix;
        return guarded([&] {
            Stmt stmt(m_dbc);
            Parameters p;
            p.bind(stmt.get(), bound);
            stmt.execDirect(sql);
            return qint64(stmt.rowCount());
        });
    }

    void connect()
    {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_env)))
            throw DbError(DbError::kFail, QStringLiteral("无法初始化 ODBC 环境。"));
        SQLSetEnvAttr(m_env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, m_env, &m_dbc))) {
            const DbError e = odbcError(SQL_HANDLE_ENV, m_env, "SQLAllocHandle");
            SQLFreeHandle(SQL_HANDLE_ENV, m_env);
            m_env = SQL_NULL_HENV;
            throw e;
        }
        SQLSetConnectAttr(m_dbc, SQL_ATTR_LOGIN_TIMEOUT,
                          reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);
        // Only the data source is named: the database account comes from
        // the data source, never from the program account (see the top).
        const QString text = QStringLiteral("DSN=%1;").arg(m_dsn);
        SQLWCHAR out[1024];
        SQLSMALLINT outLength = 0;
        const SQLRETURN rc =
            SQLDriverConnectW(m_dbc, nullptr, const_cast<SQLWCHAR*>(wide(text)), SQL_NTS, out,
                              SQLSMALLINT(std::size(out)), &outLength, SQL_DRIVER_NOPROMPT);
        if (!SQL_SUCCEEDED(rc)) {
            DbError e = odbcError(SQL_HANDLE_DBC, m_dbc, "SQLDriverConnect");
            // Whatever broke the first connection, the server cannot be
            // reached now.
            if (e.failure() == DbError::Failure::ConnectionLost)
                e = DbError(DbError::Failure::Unreachable, e.engineText());
            SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
            SQLFreeHandle(SQL_HANDLE_ENV, m_env);
            m_dbc = SQL_NULL_HDBC;
            m_env = SQL_NULL_HENV;
            throw e;
        }
        m_open = true;
        try {
            // A backslash in a quoted text is an ordinary character, as the
            // program quotes texts by doubling quotes only.
            run(QStringLiteral("SET standard_conforming_strings = on"));
            run(QStringLiteral("SET DateStyle = 'ISO, YMD'"));
        } catch (...) {
            closeDbc();
            throw;
        }
    }

    // After the link broke, every call fails at once with the same error
    // until the connection is opened again.
    void checkLink() const
    {
        checkOpen();
        if (m_lost)
            throw *m_lost;
    }

    QString prepare(const QString& sql) const
    {
        checkLink();
        return singleStatement(translateSql(sql, Engine::Postgres));
    }

    // Runs f with the translated text, ordered by the row-order column when
    // it is a plain SELECT * of one table that has the column. Should the
    // ordered text fail outside a transaction (a table created again
    // without the column), the table is looked at afresh and the text run
    // once more as it then stands.
    template <typename F> auto withRowOrder(const QString& text, F&& f) -> decltype(f(text))
    {
        const QString table = plainSelectTable(text);
        const QString ordered = inRowOrder(text, table);
        try {
            return guarded([&] { return f(ordered); });
        } catch (const DbError&) {
            if (ordered == text || m_inEngineTransaction)
                throw;
            m_hasRowOrder.remove(tableKey(table));
            const QString again = inRowOrder(text, table);
            if (again == ordered)
                throw;
            return guarded([&] { return f(again); });
        }
    }

    // The text with " ORDER BY vok_seq" appended when table (as
    // plainSelectTable found it) has the row-order column; else unchanged.
    QString inRowOrder(const QString& text, const QString& table)
    {
        if (table.isEmpty() || !hasRowOrderColumn(table))
            return text;
        return text + QLatin1String(" ORDER BY ") + QString::fromUtf16(schema::RowOrderColumn);
    }

    // A table's name as the server folds it: unquoted names are lower case.
    static QString tableKey(const QString& table)
    {
        return table.startsWith(QLatin1Char('"')) ? table : table.toLower();
    }

    // Whether a table has the row-order column, asked of the server once
    // per table and connection. A database created before the column
    // existed lists its rows in the server's own order.
    bool hasRowOrderColumn(const QString& table)
    {
        const QString key = tableKey(table);
        if (const auto it = m_hasRowOrder.constFind(key); it != m_hasRowOrder.constEnd())
            return *it;
        // to_regclass reads the name as the statement does (search path,
        // case folding) and gives NULL for a missing table, so the probe
        // itself cannot fail on a name; the table is a plain identifier or
        // "user", without quotes to double. A missing table is not
        // remembered: it may be created later.
        const QString probe =
            QStringLiteral("SELECT (to_regclass('%1') IS NOT NULL)::int, (SELECT COUNT(*) FROM "
                           "pg_attribute WHERE attrelid = to_regclass('%1') AND attname = '%2' "
                           "AND NOT attisdropped)")
                .arg(key, QString::fromUtf16(schema::RowOrderColumn));
        try {
            OdbcRowSet rs(m_dbc, probe);
            if (!rs.next() || rs.number(0) == 0)
                return false;
            const bool has = rs.number(1) > 0;
            m_hasRowOrder.insert(key, has);
            return has;
        } catch (const DbError&) {
            // Not known now (e.g. a transaction that already failed): the
            // statement itself reports what is wrong.
            return false;
        }
    }

    void run(const QString& sql)
    {
        Stmt stmt(m_dbc);
        stmt.execDirect(sql);
    }

    void setAutocommit(bool on)
    {
        const SQLRETURN rc = SQLSetConnectAttr(
            m_dbc, SQL_ATTR_AUTOCOMMIT,
            reinterpret_cast<SQLPOINTER>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0);
        if (!SQL_SUCCEEDED(rc))
            throw odbcError(SQL_HANDLE_DBC, m_dbc, "SQLSetConnectAttr");
    }

    void endTransaction(SQLSMALLINT how)
    {
        m_inEngineTransaction = false;
        m_transactionFailed = false;
        const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, m_dbc, how);
        std::optional<DbError> failure;
        if (!SQL_SUCCEEDED(rc))
            failure = odbcError(SQL_HANDLE_DBC, m_dbc, "SQLEndTran");
        setAutocommit(true);
        if (failure)
            throw *failure;
    }

    void closeDbc()
    {
        if (m_dbc) {
            if (m_open) {
                if (m_inEngineTransaction && !m_lost)
                    SQLEndTran(SQL_HANDLE_DBC, m_dbc, SQL_ROLLBACK);
                SQLDisconnect(m_dbc);
            }
            SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
            m_dbc = SQL_NULL_HDBC;
        }
        if (m_env) {
            SQLFreeHandle(SQL_HANDLE_ENV, m_env);
            m_env = SQL_NULL_HENV;
        }
        m_open = false;
        m_inEngineTransaction = false;
    }

    QString m_dsn;
    SQLHENV m_env = SQL_NULL_HENV;
    SQLHDBC m_dbc = SQL_NULL_HDBC;
    std::optional<DbError> m_lost; // why the link broke, until reopened
    bool m_open = false;
    bool m_inEngineTransaction = false;
    bool m_transactionFailed = false;
    QHash<QString, bool> m_hasRowOrder; // table -> has the row-order column
};

OdbcRowUpdate::OdbcRowUpdate(OdbcConnection& connection, const QString& translatedSelect,
                             const TableDef& table)
    : RowUpdate(table), m_connection(connection), m_loaded(table)
{
    const auto select = matchSelectStarFrom(translatedSelect);
    if (!select)
        throw DbError(DbError::kFail, QStringLiteral("更新只能打开“SELECT * FROM 表”形式的查询。"));
    m_table = select->table;
    const QString sql = QStringLiteral("SELECT ctid::text, xmin::text, * FROM ") +
                        translatedSelect.mid(select->tableStart);
    OdbcRowSet rs(connection.dbc(), sql);
    if (!rs.next())
        return;
    m_found = true;
    m_ctid = rs.text(0);
    m_xmin = rs.text(1);
    const int n = rs.columnCount() - 2;
    for (int i = 0; i < n; ++i) {
        m_columns << rs.columnName(i + 2);
        if (i < m_record.size())
            m_record.setFromDatabase(i, rs.value(i + 2));
    }
    m_loaded = m_record;
}

void OdbcRowUpdate::store()
{
    if (!m_found)
        throw noCurrentRecordError();
    QStringList sets;
    QVariantList values;
    const TableDef& def = m_record.table();
    for (int i = 0; i < m_record.size() && i < int(m_columns.size()); ++i) {
        if (m_record.value(i) == m_loaded.value(i))
            continue;
        const ColumnKind kind = def.columns.at(size_t(i)).kind;
        sets << QStringLiteral("%1=CAST(? AS %2)")
                    .arg(quotedColumn(m_columns.at(i)), serverType(kind));
        values << forColumn(m_record.value(i), kind);
    }
    if (sets.isEmpty())
        return;
    values << m_ctid << m_xmin;
    const QString sql =
        QStringLiteral("UPDATE %1 SET %2 WHERE ctid=CAST(? AS tid) AND xmin=CAST(? AS xid) "
                       "RETURNING ctid::text, xmin::text")
            .arg(m_table, sets.join(QLatin1Char(',')));
    m_connection.guarded([&] {
        Stmt stmt(m_connection.dbc());
        Parameters p;
        p.bind(stmt.get(), values);
        stmt.execDirect(sql);
        SQLSMALLINT columns = 0;
        SQLNumResultCols(stmt.get(), &columns);
        if (stmt.rowCount() == 0 || columns != 2)
            throw rowChangedError();
        const SQLRETURN rc = SQLFetch(stmt.get());
        if (rc == SQL_NO_DATA)
            throw rowChangedError();
        stmt.check(rc, "SQLFetch");
        m_ctid = readCell(stmt, 1, CellKind::Text).toString();
        m_xmin = readCell(stmt, 2, CellKind::Text).toString();
        return 0;
    });
    m_loaded = m_record;
}

} // namespace

ConnectionPtr openOdbcConnection(const ConnectionString& cs)
{
    return std::make_shared<OdbcConnection>(cs);
}

} // namespace vok
