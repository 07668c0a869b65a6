#pragma once

// The embedded engine's statements: an SQLite failure as the user is told
// it, values bound and read back, one statement prepared for a use or
// taken from a connection's cache of those it runs again and again. Used
// by the files of SqliteConnection only.

#include "db/Connection.h"
#include "db/DbError.h"
#include "db/Schema.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

#include <sqlite3.h>

namespace vok::sqlite {

// How long a statement waits for another connection's write lock.
constexpr int kBusyTimeoutMs = 15000;

// The connection's database file; empty for one in memory.
QString fileOf(sqlite3* db);
// The connection's last failure: its kind, SQLite's text, the file.
DbError engineError(sqlite3* db);

// True for a column declared DATE (a date without its time).
bool isDateOnlyDecl(const char* decl);
// A date-only column holds "YYYY-MM-DD 00:00:00"; it reads back as the date.
int visibleLength(const char* text, int bytes, bool dateOnly);
// A column of the current row as QString, double or a null QVariant.
QVariant columnValue(sqlite3_stmt* stmt, int column, bool dateOnly);

// Prepares one statement of the text; a text of more than one is refused.
sqlite3_stmt* prepareOne(sqlite3* db, const QString& sql);
void bindValue(sqlite3* db, sqlite3_stmt* stmt, int index, const QVariant& v);
// A date value as the file keeps it: a text that reads as a date is
// written normalised, so that the triggers (there for other tools) have
// nothing to do.
QVariant stored(const QVariant& v, ColumnKind kind);

// The prepared statements of a connection's texts that run again and again
// (an append per row, a query per batch of codes), kept so that each is
// prepared once. A statement in use is out of the cache until it is given
// back, so it is never shared, reset or finalised under its user: a text
// asked for again meanwhile gets a statement of its own. At most kLimit
// idle statements are kept, the one used longest ago going first; closing
// the connection, or a statement that changes the schema, finalises them,
// and a statement given back after that is finalised then.
class StatementCache
{
public:
    static constexpr qsizetype kLimit = 32;

    explicit StatementCache(sqlite3* db) : m_db(db) {}
    ~StatementCache() { clear(); }
    StatementCache(const StatementCache&) = delete;
    StatementCache& operator=(const StatementCache&) = delete;

    sqlite3_stmt* take(const QString& sql)
    {
        if (!m_db)
            throw DbError(DbError::Kind::Engine, QStringLiteral("数据库连接已关闭。"));
        const auto it = m_idle.constFind(sql);
        if (it == m_idle.constEnd())
            return prepareOne(m_db, sql);
        sqlite3_stmt* stmt = it->stmt;
        m_idle.erase(it);
        return stmt;
    }

    void give(const QString& sql, sqlite3_stmt* stmt)
    {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        if (!m_db || m_idle.contains(sql)) {
            sqlite3_finalize(stmt);
            return;
        }
        if (m_idle.size() >= kLimit) {
            auto oldest = m_idle.begin();
            for (auto it = m_idle.begin(); it != m_idle.end(); ++it)
                if (it->used < oldest->used)
                    oldest = it;
            sqlite3_finalize(oldest->stmt);
            m_idle.erase(oldest);
        }
        m_idle.insert(sql, {stmt, ++m_uses});
    }

    // Finalises the idle statements.
    void clear()
    {
        for (const Idle& idle : std::as_const(m_idle))
            sqlite3_finalize(idle.stmt);
        m_idle.clear();
    }

    // The connection closes: nothing is kept from now on.
    void close()
    {
        clear();
        m_db = nullptr;
    }

private:
    struct Idle
    {
        sqlite3_stmt* stmt;
        quint64 used;
    };
    sqlite3* m_db;
    QHash<QString, Idle> m_idle;
    quint64 m_uses = 0;
};

// One statement, prepared for this use and finalised after it, or, with a
// cache, taken from it and given back.
class Statement
{
public:
    // With values, each is bound to the text's next ?.
    Statement(sqlite3* db, const QString& sql, const QVariantList& values = {},
              std::shared_ptr<StatementCache> cache = {});
    ~Statement() { release(); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    sqlite3_stmt* get() const { return m_stmt; }

    // Steps once; true while there is a row.
    bool step();

private:
    void release();

    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
    // The cache lives with the connection; one gone finalises the statement.
    std::weak_ptr<StatementCache> m_cache;
    QString m_sql;
};

// Runs a text of statements without values.
void exec(sqlite3* db, const char* sql);
// Runs statements in one write transaction: all or none.
void execAll(sqlite3* db, const QStringList& statements);
// The first column of a query's rows as texts, the argument bound to its ?.
QStringList firstColumn(sqlite3* db, const QString& sql, const QString& argument = QString());

} // namespace vok::sqlite
