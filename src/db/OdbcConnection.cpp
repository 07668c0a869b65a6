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
#include "db/OdbcStatement.h"
#include "db/Schema.h"
#include "db/SqlText.h"

#include <QHash>
#include <QLocale>

#include <algorithm>
#include <optional>

namespace vok {

namespace {

// A marker whose bound value the server takes as the column's type.
SqlText castMarker(ColumnKind kind)
{
    return SqlText::compose("CAST(? AS %1)", {schema::sqlTypeText(kind, Engine::Postgres)});
}

using namespace odbc;

constexpr SQLULEN kLoginTimeoutSeconds = 15;
// How long a statement waits for a row another connection holds locked:
// as long as the embedded engine waits for a locked file.
constexpr int kLockWaitMs = 15000;
constexpr int kFetchRows = 10'000;

// A blank text for a number or date column is no value (NULL), as the
// server cannot read it as a number or a date.
QVariant forColumn(const QVariant& v, ColumnKind kind)
{
    if (kind != ColumnKind::Text && v.typeId() == QMetaType::QString &&
        v.toString().trimmed().isEmpty())
        return QVariant();
    return v;
}

// A value as an element of an array's text: NULL, or quoted with its
// quotes and backslashes escaped; a number in the fewest digits that read
// back as the same double.
void appendArrayElement(QString& out, const QVariant& v)
{
    if (v.isNull() || !v.isValid()) {
        out += QLatin1String("NULL");
        return;
    }
    const QString text = v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float
                             ? QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest)
                             : v.toString();
    out += u'"';
    for (const QChar ch : text) {
        if (ch == u'"' || ch == u'\\')
            out += u'\\';
        out += ch;
    }
    out += u'"';
}

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
    // The first row of "SELECT * FROM <from>", values bound.
    OdbcRowUpdate(OdbcConnection& connection, const QString& tableName, const SqlText& from,
                  const QVariantList& values, const TableDef& table);
    void store() override;

private:
    OdbcConnection& m_connection;
    SqlText m_table;
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

    void append(const QString& table, const QStringList& names, const QVariantList& values) override
    {
        insert(table, names, values, SqlText());
    }

    // Many rows go in a few statements: each column's values are bound as
    // the text of one array, which the server unnests into rows. A value
    // bound per cell would take a statement per few hundred rows, as a
    // statement's parameters are numbered in 16 bits.
    void appendRows(const QString& table, const QStringList& names,
                    const std::function<bool(QVariantList&)>& row) override
    {
        checkLink();
        checkAppendArguments(table, names, QVariantList(names.size()));
        const TableDef* def = schema::find(table);
        QVariantList values;
        // An array's type is the column's: a column the schema does not
        // describe (a table the program did not make) takes its rows one by one.
        if (!def || !std::all_of(names.begin(), names.end(),
                                 [def](const QString& n) { return def->indexOf(n) >= 0; })) {
            while (row(values))
                insert(table, names, values, {});
            return;
        }
        QList<SqlText> columns, arrays;
        std::vector<ColumnKind> kinds;
        for (const QString& name : names) {
            const int c = def->indexOf(name);
            columns << SqlText::name(name, Engine::Postgres);
            kinds.push_back(def->columns.at(size_t(c)).kind);
            arrays << SqlText::compose("CAST(? AS %1[])",
                                       {schema::sqlTypeText(kinds.back(), Engine::Postgres)});
        }
        const QString sql =
            SqlText::compose("INSERT INTO %1 (%2) SELECT * FROM UNNEST(%3)",
                             {SqlText::name(table, Engine::Postgres), SqlText::joined(columns, ","),
                              SqlText::joined(arrays, ",")})
                .toString();
        constexpr qsizetype kRowsPerStatement = 20'000;
        std::vector<QString> texts(size_t(names.size()));
        qsizetype rows = 0;
        const auto send = [&] {
            if (rows == 0)
                return;
            QVariantList bound;
            for (QString& t : texts) {
                t += u'}';
                bound << t;
            }
            guarded([&] {
                Stmt stmt(m_dbc);
                Parameters p;
                p.bind(stmt.get(), bound);
                stmt.execDirect(sql);
                return 0;
            });
            for (QString& t : texts)
                t.clear();
            rows = 0;
        };
        while (row(values)) {
            if (values.size() != names.size())
                checkAppendArguments(table, names, values);
            for (qsizetype i = 0; i < values.size(); ++i) {
                QString& t = texts[size_t(i)];
                t += rows == 0 ? u'{' : u',';
                appendArrayElement(t, forColumn(values.at(i), kinds[size_t(i)]));
            }
            if (++rows == kRowsPerStatement)
                send();
        }
        send();
    }

    // The insert waits for a transaction adding the same key and then adds
    // nothing; a database without the unique key adds the row.
    bool appendUnlessPresent(const QString& table, const QStringList& names,
                             const QVariantList& values) override
    {
        return insert(table, names, values, SqlText(" ON CONFLICT DO NOTHING")) > 0;
    }

    std::unique_ptr<RowSet> select(const TableRows& rows, bool withRowIds) override
    {
        checkLink();
        const SqlText text = SqlText("SELECT * FROM ") + fromText(rows);
        return withRowOrder(text, name(rows.table),
                            [&](const SqlText& ordered) -> std::unique_ptr<RowSet> {
                                return std::make_unique<OdbcRowSet>(m_dbc, ordered.toString(),
                                                                    withRowIds, rows.values);
                            });
    }

    std::unique_ptr<RowUpdate> openRow(const TableRows& rows, const TableDef& table) override
    {
        checkLink();
        const SqlText from = fromText(rows);
        return withRowOrder(from, name(rows.table),
                            [&](const SqlText& ordered) -> std::unique_ptr<RowUpdate> {
                                return std::make_unique<OdbcRowUpdate>(*this, rows.table, ordered,
                                                                       rows.values, table);
                            });
    }

    QString rowIdentity(const QString& table) override
    {
        checkLink();
        return hasRowOrderColumn(name(table)) ? QString::fromUtf16(schema::RowOrderColumn)
                                              : QString();
    }

    std::function<ConnectionPtr()> readerOpener() const override
    {
        return [dsn = m_dsn]() -> ConnectionPtr {
            return std::make_shared<OdbcConnection>(ConnectionString{dsn, {}, {}});
        };
    }

    qint64 lock(const TableRows& rows) override
    {
        checkInTransaction();
        checkLink();
        const QString text =
            SqlText::compose("SELECT * FROM %1 FOR UPDATE", {fromText(rows)}).toString();
        return guarded([&] {
            OdbcRowSet rs(m_dbc, text, false, rows.values);
            qint64 n = 0;
            while (rs.next())
                ++n;
            return n;
        });
    }

    std::unique_ptr<RowSet> queryWith(const QString& sql, const QVariantList& values) override
    {
        checkLink();
        const QString text = singleStatement(sql);
        return guarded([&]() -> std::unique_ptr<RowSet> {
            return std::make_unique<OdbcRowSet>(m_dbc, text, false, values);
        });
    }

    qint64 executeWith(const QString& sql, const QVariantList& values) override
    {
        checkLink();
        const QString text = singleStatement(sql);
        return guarded([&] {
            Stmt stmt(m_dbc);
            Parameters p;
            p.bind(stmt.get(), values);
            stmt.execDirect(text);
            return stmt.rowCount();
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
                m_lost = DbError(DbError::Failure::ConnectionLost, e.detail());
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
            throw DbError(DbError::Kind::Engine,
                          QStringLiteral("事务中有语句执行失败，全部更改已撤销。"));
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

    std::unique_ptr<RowSet> selectWithIds(const SqlText& from, const QVariantList& values) override
    {
        checkLink();
        const QString text = (SqlText("SELECT * FROM ") + from).toString();
        return guarded([&]() -> std::unique_ptr<RowSet> {
            return std::make_unique<OdbcRowSet>(m_dbc, text, true, values);
        });
    }

    void reopenEngine() override
    {
        closeDbc();
        m_lost.reset();
        m_hasRowOrder.clear();
        try {
            connect();
        } catch (const DbError& e) {
            // Still no link: every later action says so and offers to
            // reconnect once more.
            m_lost = DbError(DbError::Failure::ConnectionLost, e.detail());
            throw;
        }
    }

    DbError closedError() const override { return m_lost ? *m_lost : Connection::closedError(); }

private:
    // One row from parallel lists, the SQL text ending in suffix; returns
    // the number of rows added.
    qint64 insert(const QString& table, const QStringList& names, const QVariantList& values,
                  const SqlText& suffix)
    {
        checkLink();
        checkAppendArguments(table, names, values);
        const TableDef* def = schema::find(table);
        QList<SqlText> columns, markers;
        QVariantList bound;
        for (qsizetype i = 0; i < names.size(); ++i) {
            columns << SqlText::name(names.at(i), Engine::Postgres);
            const int c = def ? def->indexOf(names.at(i)) : -1;
            if (c < 0) {
                markers << SqlText("?");
                bound << values.at(i);
            } else {
                const ColumnKind kind = def->columns.at(size_t(c)).kind;
                markers << castMarker(kind);
                bound << forColumn(values.at(i), kind);
            }
        }
        const QString sql =
            SqlText::compose("INSERT INTO %1 (%2) VALUES (%3)%4",
                             {SqlText::name(table, Engine::Postgres), SqlText::joined(columns, ","),
                              SqlText::joined(markers, ","), suffix})
                .toString();
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
            throw DbError(DbError::Kind::Engine, QStringLiteral("无法初始化 ODBC 环境。"));
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
        // The driver reads a result through a cursor, kFetchRows rows at a time,
        // rather than holding the whole result in memory, whatever the
        // site's odbc.ini says.
        const QString text =
            QStringLiteral("DSN=%1;UseDeclareFetch=1;Fetch=%2;").arg(m_dsn).arg(kFetchRows);
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
                e = DbError(DbError::Failure::Unreachable, e.detail());
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
            // A row another connection holds locked is waited for as long
            // as the embedded engine waits for a locked file, then the
            // statement fails with the same words (SQLSTATE 55P03).
            run(SqlText::compose("SET lock_timeout = %1", {SqlText::number(kLockWaitMs)})
                    .toString());
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

    // Runs f with the text, a plain SELECT * of one table (its name as the
    // text writes it), ordered by the row-order column when the table has
    // it. Should the ordered text fail outside a transaction (a table
    // created again without the column), the table is looked at afresh and
    // the text run once more as it then stands.
    template <typename F>
    auto withRowOrder(const SqlText& text, const QString& table, F&& f) -> decltype(f(text))
    {
        const SqlText ordered = inRowOrder(text, table);
        try {
            return guarded([&] { return f(ordered); });
        } catch (const DbError&) {
            if (ordered.toString() == text.toString() || m_inEngineTransaction)
                throw;
            m_hasRowOrder.remove(tableKey(table));
            const SqlText again = inRowOrder(text, table);
            if (again.toString() == ordered.toString())
                throw;
            return guarded([&] { return f(again); });
        }
    }

    // The text with " ORDER BY vok_seq" appended when table has the
    // row-order column; else unchanged.
    SqlText inRowOrder(const SqlText& text, const QString& table)
    {
        if (table.isEmpty() || !hasRowOrderColumn(table))
            return text;
        return SqlText::compose("%1 ORDER BY %2", {text, SqlText::name(schema::RowOrderColumn)});
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
        // itself cannot fail on a name. A missing table is not remembered:
        // it may be created later.
        const QString probe =
            QStringLiteral("SELECT (to_regclass(CAST(? AS text)) IS NOT NULL)::int, "
                           "(SELECT COUNT(*) FROM pg_attribute WHERE attrelid = "
                           "to_regclass(CAST(? AS text)) AND attname = CAST(? AS name) "
                           "AND NOT attisdropped)");
        try {
            OdbcRowSet rs(m_dbc, probe, false,
                          {key, key, QString::fromUtf16(schema::RowOrderColumn)});
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

OdbcRowUpdate::OdbcRowUpdate(OdbcConnection& connection, const QString& tableName,
                             const SqlText& from, const QVariantList& values, const TableDef& table)
    : RowUpdate(table), m_connection(connection),
      m_table(SqlText::name(tableName, Engine::Postgres)), m_loaded(table)
{
    const SqlText sql = SqlText("SELECT ctid::text, xmin::text, * FROM ") + from;
    OdbcRowSet rs(connection.dbc(), sql.toString(), false, values);
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
    QList<SqlText> sets;
    QVariantList values;
    const TableDef& def = m_record.table();
    for (int i = 0; i < m_record.size() && i < int(m_columns.size()); ++i) {
        if (m_record.value(i) == m_loaded.value(i))
            continue;
        const ColumnKind kind = def.columns.at(size_t(i)).kind;
        sets << SqlText::name(m_columns.at(i), Engine::Postgres) + SqlText("=") + castMarker(kind);
        values << forColumn(m_record.value(i), kind);
    }
    if (sets.isEmpty())
        return;
    values << m_ctid << m_xmin;
    const QString sql =
        SqlText::compose("UPDATE %1 SET %2 WHERE ctid=CAST(? AS tid) AND xmin=CAST(? AS xid) "
                         "RETURNING ctid::text, xmin::text",
                         {m_table, SqlText::joined(sets, ",")})
            .toString();
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
        m_ctid = readText(stmt, 1).value_or(QString());
        m_xmin = readText(stmt, 2).value_or(QString());
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
