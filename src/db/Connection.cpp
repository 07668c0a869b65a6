#include "db/Connection.h"

#include "db/DataFolder.h"
#include "db/DbError.h"
#include "db/OdbcConnection.h"
#include "db/SqlText.h"
#include "db/SqliteConnection.h"

#include <sql.h>
#include <sqlext.h>

namespace vok {

RowSet::~RowSet() = default;

RowSet::Cell RowSet::cell(int column) const
{
    if (isNull(column))
        return {};
    if (isNumber(column))
        return {Cell::Number, number(column)};
    return {Cell::Text, 0, utf8(column)};
}
RowUpdate::~RowUpdate() = default;
Connection::~Connection() = default;

int RowSet::indexOf(QStringView name) const
{
    const int n = columnCount();
    for (int i = 0; i < n; ++i)
        if (columnName(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QString RowSet::text(const QString& name) const
{
    const int i = indexOf(name);
    if (i < 0)
        throw DbError(DbError::Kind::Engine, QStringLiteral("结果中没有列“%1”。").arg(name));
    return text(i);
}

QVariant RowSet::value(const QString& name) const
{
    const int i = indexOf(name);
    if (i < 0)
        throw DbError(DbError::Kind::Engine, QStringLiteral("结果中没有列“%1”。").arg(name));
    return value(i);
}

void RowSet::readInto(RowRecord& record) const
{
    const int n = std::min(record.size(), columnCount());
    for (int i = 0; i < n; ++i)
        record.setFromDatabase(i, value(i));
}

DbError Connection::closedError() const
{
    return DbError(DbError::Kind::Engine, QStringLiteral("数据库连接已关闭，不能执行此操作。"));
}

void Connection::checkOpen() const
{
    if (!isOpen())
        throw closedError();
}

void Connection::checkInTransaction() const
{
    checkOpen();
    if (!inTransaction())
        throw DbError(DbError::Kind::Engine, QStringLiteral("只有在事务中才能锁定记录。"));
}

void Connection::checkAppendArguments(const QString& table, const QStringList& names,
                                      const QVariantList& values)
{
    if (!isPlainIdentifier(table) || names.isEmpty() || names.size() != values.size())
        throw DbError(DbError::Kind::Engine, QStringLiteral("添加记录的参数无效。"));
    for (const QString& n : names)
        if (!isPlainIdentifier(n))
            throw DbError(DbError::Kind::Engine, QStringLiteral("列名“%1”无效。").arg(n));
}

QString Connection::fromClause(const TableRows& rows) const
{
    return fromText(rows).toString();
}

SqlText Connection::fromText(const TableRows& rows) const
{
    if (!isPlainIdentifier(rows.table))
        throw DbError(DbError::Kind::Engine, QStringLiteral("表名“%1”无效。").arg(rows.table));
    SqlText out = SqlText::name(rows.table, engine());
    if (!rows.condition.isEmpty())
        out += SqlText(" WHERE ") + rows.condition;
    return out;
}

void Connection::appendRows(const QString& table, const QStringList& names,
                            const std::function<bool(QVariantList&)>& row)
{
    QVariantList values;
    while (row(values))
        append(table, names, values);
}

TableRows Connection::bounded(const TableRows& rows, const QString& identity,
                              const RowWindow& window) const
{
    TableRows out = rows;
    QList<SqlText> conditions;
    if (!rows.condition.isEmpty())
        conditions << SqlText::compose("(%1)", {rows.condition});
    const SqlText column = SqlText::name(identity);
    const auto bound = [&](const std::optional<qint64>& value, SqlText op) {
        if (!value)
            return;
        conditions << column + op + SqlText("?");
        out.values << *value;
    };
    bound(window.below, SqlText("<"));
    bound(window.above, SqlText(">"));
    bound(window.upTo, SqlText("<="));
    out.condition = SqlText::joined(conditions, " AND ");
    return out;
}

std::unique_ptr<RowSet> Connection::selectWindow(const TableRows& rows, const RowWindow& window)
{
    const QString identity = rowIdentity(rows.table);
    if (identity.isEmpty())
        return selectWithIds(SqlText(), {}); // the table has none: refused
    TableRows narrowed = bounded(rows, identity, window);
    SqlText from =
        SqlText::compose("%1 ORDER BY %2", {fromText(narrowed), SqlText::name(identity)}) +
        (window.newestFirst ? SqlText(" DESC LIMIT ?") : SqlText(" ASC LIMIT ?"));
    narrowed.values << window.limit;
    if (window.offset > 0) {
        from += SqlText(" OFFSET ?");
        narrowed.values << window.offset;
    }
    return selectWithIds(from, narrowed.values);
}

std::unique_ptr<RowSet> Connection::selectWithIds(const SqlText&, const QVariantList&)
{
    throw DbError(DbError::Kind::Engine, QStringLiteral("这种连接不能分段读取记录。"));
}

qint64 Connection::count(const TableRows& rows)
{
    auto rs =
        queryWith((SqlText("SELECT COUNT(*) FROM ") + fromText(rows)).toString(), rows.values);
    return rs->next() ? qint64(rs->number(0)) : 0;
}

qint64 Connection::remove(const TableRows& rows)
{
    return executeWith((SqlText("DELETE FROM ") + fromText(rows)).toString(), rows.values);
}

void Connection::reopen()
{
    m_depth = 0;
    m_failed = false;
    reopenEngine();
}

void Connection::begin()
{
    checkOpen();
    if (m_depth == 0) {
        beginEngine();
        m_failed = false;
    }
    ++m_depth;
}

void Connection::commit()
{
    if (m_depth == 0)
        return;
    if (--m_depth == 0) {
        if (m_failed) {
            m_failed = false;
            rollbackEngine();
            throw DbError(DbError::Kind::Engine,
                          QStringLiteral("事务的一部分已失败，全部更改已撤销。"));
        }
        commitEngine();
    }
}

void Connection::rollback()
{
    if (m_depth == 0)
        return;
    if (--m_depth == 0) {
        m_failed = false;
        rollbackEngine();
    } else {
        // An inner part failed: the outermost commit must not keep the rest.
        m_failed = true;
    }
}

Transaction::Transaction(Connection& connection) : m_connection(connection)
{
    m_connection.begin();
}

Transaction::~Transaction()
{
    if (!m_done) {
        try {
            m_connection.rollback();
        } catch (const DbError&) {
            // The engine rolls back by itself when the connection goes.
        }
    }
}

void Transaction::commit()
{
    m_done = true;
    m_connection.commit();
}

namespace {

bool needsBraces(const QString& v)
{
    return v.contains(QLatin1Char(';')) || v.contains(QLatin1Char('{')) ||
           v.contains(QLatin1Char('}')) || v.startsWith(QLatin1Char(' '));
}

QString formatValue(const QString& v)
{
    if (!needsBraces(v))
        return v;
    QString b = v;
    b.replace(QLatin1String("}"), QLatin1String("}}"));
    return QLatin1Char('{') + b + QLatin1Char('}');
}

} // namespace

QString ConnectionString::toString() const
{
    return QStringLiteral("DSN=%1;UID=%2;PWD=%3")
        .arg(formatValue(dsn), formatValue(uid), formatValue(pwd));
}

ConnectionString ConnectionString::parse(const QString& text)
{
    ConnectionString cs;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        const qsizetype eq = text.indexOf(QLatin1Char('='), i);
        if (eq < 0)
            break;
        const QString key = text.mid(i, eq - i).trimmed().toUpper();
        QString value;
        qsizetype j = eq + 1;
        if (j < n && text[j] == QLatin1Char('{')) {
            ++j;
            while (j < n) {
                if (text[j] == QLatin1Char('}')) {
                    if (j + 1 < n && text[j + 1] == QLatin1Char('}')) {
                        value += QLatin1Char('}');
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                value += text[j++];
            }
            const qsizetype semi = text.indexOf(QLatin1Char(';'), j);
            j = semi < 0 ? n : semi + 1;
        } else {
            const qsizetype semi = text.indexOf(QLatin1Char(';'), j);
            value = text.mid(j, (semi < 0 ? n : semi) - j);
            j = semi < 0 ? n : semi + 1;
        }
        if (key == QLatin1String("DSN"))
            cs.dsn = value;
        else if (key == QLatin1String("UID"))
            cs.uid = value;
        else if (key == QLatin1String("PWD"))
            cs.pwd = value;
        i = j;
    }
    return cs;
}

bool odbcDataSourceExists(const QString& dsn)
{
    if (dsn.isEmpty())
        return false;
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        return false;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    bool found = false;
    SQLCHAR name[SQL_MAX_DSN_LENGTH + 1];
    SQLCHAR description[512];
    SQLSMALLINT nameLen = 0, descLen = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (SQL_SUCCEEDED(SQLDataSources(env, direction, name, sizeof name, &nameLen, description,
                                        sizeof description, &descLen))) {
        direction = SQL_FETCH_NEXT;
        if (QString::fromUtf8(reinterpret_cast<const char*>(name))
                .compare(dsn, Qt::CaseInsensitive) == 0) {
            found = true;
            break;
        }
    }
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return found;
}

ConnectionPtr openConnection(const QString& connectionString)
{
    const ConnectionString cs = ConnectionString::parse(connectionString);
    if (!isPlainIdentifier(cs.dsn))
        throw DbError(DbError::Kind::Engine, QStringLiteral("未找到数据源“%1”。").arg(cs.dsn));
    if (odbcDataSourceExists(cs.dsn))
        return openOdbcConnection(cs);
    return openSqliteConnection(DataFolder::databaseFile(cs.dsn));
}

} // namespace vok
