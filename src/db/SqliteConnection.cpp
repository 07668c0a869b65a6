// The embedded engine: a department's SQLite file. This file holds the
// connection itself and its opening; the statements, results, checkpoints,
// file checks and the upgrade of older files each have a file of their own
// (SqliteStatement, SqliteRows, SqliteCheckpoints, SqliteFileCheck,
// SqliteUpgrade).
#include "db/SqliteConnection.h"

#include "db/DbError.h"
#include "db/RowRecord.h"
#include "db/SqliteCheckpoints.h"
#include "db/SqliteFileCheck.h"
#include "db/SqliteRows.h"
#include "db/SqliteStatement.h"
#include "db/SqliteUpgrade.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <memory>
#include <vector>

#include <sqlite3.h>

namespace vok {

namespace {

using namespace sqlite;

// Values bound to one statement of many rows appended.
constexpr qsizetype kValuesPerAppend = 600;

class SqliteConnection : public Connection
{
public:
    // A reader is a read-only connection used in another thread: it
    // leaves the checkpoints to the connections that write.
    explicit SqliteConnection(sqlite3* db, bool reader = false)
        : m_db(db), m_reader(reader), m_statements(std::make_shared<StatementCache>(db))
    {
    }
    ~SqliteConnection() override { closeDb(); }

    Engine engine() const override { return Engine::Sqlite; }
    bool isOpen() const override { return m_db != nullptr; }
    void close() override { closeDb(); }

    void append(const QString& table, const QStringList& names, const QVariantList& values) override
    {
        insert("INSERT", table, names, values);
    }

    bool appendUnlessPresent(const QString& table, const QStringList& names,
                             const QVariantList& values) override
    {
        return insert("INSERT OR IGNORE", table, names, values) > 0;
    }

    // Many rows a statement ("VALUES (…),(…),…"): each statement runs the
    // table's triggers once for all of its rows, and the statement of a
    // full batch is prepared once.
    void appendRows(const QString& table, const QStringList& names,
                    const std::function<bool(QVariantList&)>& row) override
    {
        checkOpen();
        checkAppendArguments(table, names, QVariantList(names.size()));
        const TableDef* def = schema::find(table);
        std::vector<ColumnKind> kinds;
        for (const QString& name : names) {
            const int column = def ? def->indexOf(name) : -1;
            kinds.push_back(column < 0 ? ColumnKind::Number : def->columns.at(size_t(column)).kind);
        }
        const SqlText head = SqlText::compose("INSERT INTO %1 (%2) VALUES ",
                                              {SqlText::name(table), SqlText::names(names)});
        const SqlText tuple = SqlText::compose("(%1)", {SqlText::markers(names.size())});
        const qsizetype perStatement = std::max<qsizetype>(1, kValuesPerAppend / names.size());
        QVariantList pending, values;
        qsizetype rows = 0;
        const auto flush = [&] {
            Statement stmt(m_db,
                           (head + SqlText::joined(QList<SqlText>(rows, tuple), ",")).toString(),
                           pending, m_statements);
            stmt.step();
            pending.clear();
            rows = 0;
        };
        while (row(values)) {
            if (values.size() != names.size())
                checkAppendArguments(table, names, values);
            for (int i = 0; i < values.size(); ++i)
                pending << stored(values.at(i), kinds[size_t(i)]);
            if (++rows == perStatement)
                flush();
        }
        if (rows > 0)
            flush();
    }

    std::unique_ptr<RowSet> select(const TableRows& rows, bool withRowIds) override
    {
        checkOpen();
        const SqlText head =
            withRowIds ? SqlText("SELECT _rowid_, * FROM ") : SqlText("SELECT * FROM ");
        return openRowSet(m_db, (head + fromText(rows)).toString(), withRowIds, rows.values);
    }

    std::unique_ptr<RowUpdate> openRow(const TableRows& rows, const TableDef& table) override
    {
        checkOpen();
        return openRowUpdate(m_db, rows.table, fromText(rows), rows.values, table);
    }

    // Every table of the file keeps its rows by rowid.
    QString rowIdentity(const QString&) override { return QStringLiteral("_rowid_"); }

    QString databaseFile() const override { return m_db ? fileOf(m_db) : QString(); }

    std::function<ConnectionPtr()> readerOpener() const override
    {
        const char* name = m_db ? sqlite3_db_filename(m_db, "main") : nullptr;
        if (!name || !*name)
            return {};
        return [path = QByteArray(name)]() -> ConnectionPtr {
            sqlite3* db = nullptr;
            if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                                nullptr) != SQLITE_OK) {
                DbError e = db ? engineError(db)
                               : DbError(DbError::Failure::CannotOpen, QString(),
                                         QDir::toNativeSeparators(QFile::decodeName(path)));
                sqlite3_close_v2(db);
                throw e;
            }
            sqlite3_busy_timeout(db, kBusyTimeoutMs);
            sqlite3_extended_result_codes(db, 1);
            return std::make_shared<SqliteConnection>(db, true);
        };
    }

    // The transaction began with BEGIN IMMEDIATE and so holds the write
    // lock: no other connection changes any row until it ends.
    qint64 lock(const TableRows& rows) override
    {
        checkInTransaction();
        return count(rows);
    }

    std::unique_ptr<RowSet> queryWith(const QString& sql, const QVariantList& values) override
    {
        checkOpen();
        return openRowSet(m_db, sql, false, values, m_statements);
    }

    qint64 executeWith(const QString& sql, const QVariantList& values) override
    {
        checkOpen();
        Statement stmt(m_db, sql, values, m_statements);
        while (stmt.step()) {
        }
        // The statements kept were prepared against the schema before.
        static const QRegularExpression schemaChange(QStringLiteral("^\\s*(CREATE|DROP|ALTER)\\b"),
                                                     QRegularExpression::CaseInsensitiveOption);
        if (schemaChange.match(sql).hasMatch())
            m_statements->clear();
        return sqlite3_changes64(m_db);
    }

protected:
    std::unique_ptr<RowSet> selectWithIds(const SqlText& from, const QVariantList& values) override
    {
        checkOpen();
        return openRowSet(m_db, (SqlText("SELECT _rowid_, * FROM ") + from).toString(), true,
                          values);
    }

    void beginEngine() override { run("BEGIN IMMEDIATE"); }
    void commitEngine() override { run("COMMIT"); }
    void rollbackEngine() override
    {
        if (m_db && !sqlite3_get_autocommit(m_db))
            run("ROLLBACK");
    }

private:
    // One row from parallel lists; returns the number of rows added.
    qint64 insert(SqlLiteral verb, const QString& table, const QStringList& names,
                  const QVariantList& values)
    {
        checkOpen();
        checkAppendArguments(table, names, values);
        const QString sql =
            SqlText::compose("%1 INTO %2 (%3) VALUES (%4)",
                             {SqlText(verb), SqlText::name(table), SqlText::names(names),
                              SqlText::markers(names.size())})
                .toString();
        Statement stmt(m_db, sql, {}, m_statements);
        const TableDef* def = schema::find(table);
        for (int i = 0; i < values.size(); ++i) {
            const int column = def ? def->indexOf(names.at(i)) : -1;
            bindValue(m_db, stmt.get(), i + 1,
                      column < 0 ? values.at(i)
                                 : stored(values.at(i), def->columns.at(size_t(column)).kind));
        }
        stmt.step();
        return sqlite3_changes64(m_db);
    }

    void run(const char* sql)
    {
        checkOpen();
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            throw engineError(m_db);
    }

    void closeDb()
    {
        m_statements->close();
        if (m_db) {
            if (!m_reader)
                checkpointOnClosing(m_db);
            sqlite3_close_v2(m_db);
            m_db = nullptr;
        }
    }

    sqlite3* m_db;
    bool m_reader = false;
    // Shared with the statements in use, which give theirs back to it.
    std::shared_ptr<StatementCache> m_statements;
};

} // namespace

ConnectionPtr openSqliteConnection(const QString& file)
{
    // Tables are made only in a file this call creates: an existing file
    // that is not a complete department database is refused as it is.
    // An existing file is opened once: its cheap checks run on this
    // connection before anything is written through it.
    const bool isNew = !QFileInfo::exists(file);
    if (isNew)
        createPrivateFile(file);
    else if (hasHotJournal(file))
        checkDepartmentFile(file);
    else
        checkFileShape(file);
    const FilesBeside beside(file);
    sqlite3* db = nullptr;
    const QByteArray path = QFile::encodeName(file);
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.constData(), &db, flags, nullptr) != SQLITE_OK) {
        DbError e =
            db ? engineError(db)
               : DbError(DbError::Failure::CannotOpen, QString(), QDir::toNativeSeparators(file));
        sqlite3_close_v2(db);
        throw e;
    }
    try {
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        sqlite3_extended_result_codes(db, 1);
        if (!isNew)
            checkBeforeWriting(db, file);
        // Durability: a commit is on the disk before it is confirmed
        // (synchronous=FULL), and a checkpoint after every commit puts it
        // into the .db file itself (retried while a reader holds it back),
        // so that whenever no write is in progress the file alone holds
        // every committed change (a copy of it is the whole database). The
        // write-ahead log keeps readers (a list, a backup) from blocking a
        // writer; a second instance waits for the writer through the busy
        // timeout.
        exec(db, "PRAGMA journal_mode=WAL");
        exec(db, "PRAGMA synchronous=FULL");
        // A large change (an import) touches the pages of the table and of
        // each of its indexes in turn: in SQLite's default 2 MB they would
        // be written out and read back again and again.
        exec(db, "PRAGMA cache_size=-65536");
        sqlite3_wal_hook(db, afterCommit, nullptr);
        if (isNew)
            execAll(db, schema::createStatements(Engine::Sqlite));
        else {
            upgradeSchema(db, file);
        }
    } catch (...) {
        sqlite3_close_v2(db);
        // A file this call created and could not fill is not left behind
        // as an empty database.
        if (isNew && QFileInfo(file).size() == 0)
            QFile::remove(file);
        else if (!isNew)
            beside.removeMade();
        throw;
    }
    return std::make_shared<SqliteConnection>(db);
}

} // namespace vok
