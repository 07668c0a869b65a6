#include "db/SqliteConnection.h"

#include "db/DbError.h"
#include "db/RowRecord.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

#include <sqlite3.h>

namespace vok {

namespace {

constexpr int kBusyTimeoutMs = 15000;
// Values bound to one statement of many rows appended.
constexpr qsizetype kValuesPerAppend = 600;

QString fileOf(sqlite3* db)
{
    const char* name = sqlite3_db_filename(db, "main");
    return name ? QFile::decodeName(name) : QString();
}

// The files the page check found damaged, by absolute path: what it found.
// Every connection to one of them refuses to write.
struct DamagedFiles
{
    std::mutex lock;
    QHash<QString, QString> findings;
    std::atomic<bool> any = false;

    static DamagedFiles& instance()
    {
        static DamagedFiles d;
        return d;
    }
    static QString key(const QString& file) { return QFileInfo(file).absoluteFilePath(); }
};

std::optional<QString> damageOf(const QString& file)
{
    DamagedFiles& d = DamagedFiles::instance();
    if (!d.any)
        return std::nullopt;
    const std::lock_guard<std::mutex> guard(d.lock);
    const auto it = d.findings.constFind(DamagedFiles::key(file));
    if (it == d.findings.constEnd())
        return std::nullopt;
    return *it;
}

// The failure an SQLite result code stands for, as the user is told it.
DbError::Failure failureOf(int extendedCode, const QString& file)
{
    switch (extendedCode & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return DbError::Failure::Busy;
    case SQLITE_FULL:
        return DbError::Failure::DiskFull;
    case SQLITE_READONLY:
        return DbError::Failure::ReadOnly;
    case SQLITE_CANTOPEN:
        // A journal that cannot be made beside the file: a read-only folder.
        if (!file.isEmpty() && QFileInfo::exists(file) &&
            !QFileInfo(QFileInfo(file).absolutePath()).isWritable())
            return DbError::Failure::ReadOnly;
        return DbError::Failure::CannotOpen;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return DbError::Failure::Damaged;
    case SQLITE_MISMATCH:
    case SQLITE_RANGE:
    case SQLITE_TOOBIG:
        return DbError::Failure::BadValue;
    case SQLITE_CONSTRAINT:
        if (extendedCode == SQLITE_CONSTRAINT_UNIQUE ||
            extendedCode == SQLITE_CONSTRAINT_PRIMARYKEY)
            return DbError::Failure::Unique;
        return DbError::Failure::Other;
    default:
        return DbError::Failure::Other;
    }
}

// True when the disk holding the file has no room left: SQLite reports a
// full disk met while making its shared-memory or journal file as an I/O
// error, with the system's error number beside it.
bool diskFull(sqlite3* db, const QString& file)
{
    const int error = sqlite3_system_errno(db);
    if (error == ENOSPC || error == EDQUOT)
        return true;
    struct statvfs fs
    {
    };
    const QString folder = QFileInfo(file).absolutePath();
    return !file.isEmpty() && ::statvfs(QFile::encodeName(folder).constData(), &fs) == 0 &&
           fs.f_bavail == 0;
}

DbError engineError(sqlite3* db)
{
    const QString file = fileOf(db);
    const int code = sqlite3_extended_errcode(db);
    const DbError::Failure failure = (code & 0xff) == SQLITE_IOERR && diskFull(db, file)
                                         ? DbError::Failure::DiskFull
                                         : failureOf(code, file);
    return DbError(failure, QString::fromUtf8(sqlite3_errmsg(db)), QDir::toNativeSeparators(file));
}

bool isDateOnlyDecl(const char* decl)
{
    return decl && sqlite3_stricmp(decl, "DATE") == 0;
}

// A date-only column holds "YYYY-MM-DD 00:00:00"; it reads back as the date.
int visibleLength(const char* text, int bytes, bool dateOnly)
{
    if (dateOnly && bytes == 19 && std::memcmp(text + 10, " 00:00:00", 9) == 0)
        return 10;
    return bytes;
}

QVariant columnValue(sqlite3_stmt* stmt, int column, bool dateOnly)
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_NULL:
        return {};
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        return sqlite3_column_double(stmt, column);
    default: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
        const int n = sqlite3_column_bytes(stmt, column);
        return QString::fromUtf8(p, visibleLength(p, n, dateOnly));
    }
    }
}

// Prepares one statement of the text; a text of more than one is refused.
sqlite3_stmt* prepareOne(sqlite3* db, const QString& sql)
{
    const QByteArray utf8 = sql.toUtf8();
    const char* tail = nullptr;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &stmt, &tail) != SQLITE_OK)
        throw engineError(db);
    if (!stmt)
        throw DbError(DbError::kFail, QStringLiteral("SQL 语句为空。"));
    for (; tail && *tail; ++tail) {
        if (!std::isspace(static_cast<unsigned char>(*tail)) && *tail != ';') {
            sqlite3_finalize(stmt);
            throw DbError(DbError::kFail, QStringLiteral("一次只能执行一条 SQL 语句。"));
        }
    }
    return stmt;
}

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
            throw DbError(DbError::kFail, QStringLiteral("数据库连接已关闭。"));
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

void bindValue(sqlite3* db, sqlite3_stmt* stmt, int index, const QVariant& v);

// One statement, prepared for this use and finalised after it, or, with a
// cache, taken from it and given back.
class Statement
{
public:
    // With values, each is bound to the text's next ?.
    Statement(sqlite3* db, const QString& sql, const QVariantList& values = {},
              std::shared_ptr<StatementCache> cache = {})
        : m_db(db), m_cache(cache), m_sql(cache ? sql : QString())
    {
        m_stmt = cache ? cache->take(sql) : prepareOne(db, sql);
        try {
            // A file found damaged is read, never written.
            if (!sqlite3_stmt_readonly(m_stmt))
                if (const auto finding = damageOf(fileOf(db)))
                    throw DbError(DbError::Failure::Damaged, *finding,
                                  QDir::toNativeSeparators(fileOf(db)));
            for (qsizetype i = 0; i < values.size(); ++i)
                bindValue(db, m_stmt, int(i + 1), values.at(i));
        } catch (...) {
            release();
            throw;
        }
    }
    ~Statement() { release(); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    sqlite3_stmt* get() const { return m_stmt; }

    // Steps once; true while there is a row.
    bool step()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        DbError e = engineError(m_db);
        sqlite3_reset(m_stmt);
        throw e;
    }

private:
    void release()
    {
        if (const auto cache = m_cache.lock())
            cache->give(m_sql, m_stmt);
        else
            sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }

    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
    // The cache lives with the connection; one gone finalises the statement.
    std::weak_ptr<StatementCache> m_cache;
    QString m_sql;
};

void bindValue(sqlite3* db, sqlite3_stmt* stmt, int index, const QVariant& v)
{
    int rc = SQLITE_OK;
    if (v.isNull() || !v.isValid()) {
        rc = sqlite3_bind_null(stmt, index);
    } else {
        switch (v.typeId()) {
        case QMetaType::Float:
        case QMetaType::Double:
            rc = sqlite3_bind_double(stmt, index, v.toDouble());
            break;
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong:
            rc = sqlite3_bind_int64(stmt, index, v.toLongLong());
            break;
        default: {
            const QByteArray t = v.toString().toUtf8();
            rc = sqlite3_bind_text(stmt, index, t.constData(), int(t.size()), SQLITE_TRANSIENT);
        }
        }
    }
    if (rc != SQLITE_OK)
        throw engineError(db);
}

// A date value as the file keeps it: a text that reads as a date is
// written normalised, so that the triggers (there for other tools) have
// nothing to do.
QVariant stored(const QVariant& v, ColumnKind kind)
{
    if ((kind == ColumnKind::DateTime || kind == ColumnKind::Date) &&
        v.typeId() == QMetaType::QString) {
        // Already "YYYY-MM-DD HH:MM:SS" (or not a date at all): as it is.
        const QString t = v.toString();
        if (t.size() == 19 && t.at(4) == u'-' && t.at(7) == u'-' && t.at(10) == u' ' &&
            t.at(13) == u':' && t.at(16) == u':')
            return v;
        if (const auto dt = parseDateTime(t))
            return dt->normalizedFull();
    }
    return v;
}

class SqliteRowSet : public RowSet
{
public:
    // With withRowId the text selects the rowid first; it is kept apart
    // from the result's columns.
    SqliteRowSet(sqlite3* db, const QString& sql, bool withRowId = false,
                 const QVariantList& values = {}, std::shared_ptr<StatementCache> cache = {})
        : m_stmt(db, sql, values, std::move(cache)), m_first(withRowId ? 1 : 0)
    {
        const int n = sqlite3_column_count(m_stmt.get());
        m_dateOnly.resize(size_t(std::max(0, n - m_first)));
        for (int i = m_first; i < n; ++i) {
            m_names << QString::fromUtf8(sqlite3_column_name(m_stmt.get(), i));
            m_dateOnly[size_t(i - m_first)] =
                isDateOnlyDecl(sqlite3_column_decltype(m_stmt.get(), i));
        }
    }

    bool next() override { return m_stmt.step(); }
    int columnCount() const override { return int(m_names.size()); }
    QString columnName(int column) const override { return m_names.at(column); }

    qint64 rowId() const override { return m_first ? sqlite3_column_int64(m_stmt.get(), 0) : 0; }

    bool isNull(int column) const override
    {
        return sqlite3_column_type(m_stmt.get(), column + m_first) == SQLITE_NULL;
    }

    bool isNumber(int column) const override
    {
        const int t = sqlite3_column_type(m_stmt.get(), column + m_first);
        return t == SQLITE_INTEGER || t == SQLITE_FLOAT;
    }

    QByteArrayView utf8(int column) const override
    {
        const int c = column + m_first;
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt.get(), c));
        const int n = sqlite3_column_bytes(m_stmt.get(), c);
        if (!p)
            return {};
        return QByteArrayView(p, visibleLength(p, n, m_dateOnly[size_t(column)]));
    }

    // One sqlite3_column_value() per cell; the value_* calls on it take no
    // lock, which halves the cost of reading a long list. (An unprotected
    // value is safe here: a connection is used by one thread.)
    Cell cell(int column) const override
    {
        sqlite3_value* v = sqlite3_column_value(m_stmt.get(), column + m_first);
        switch (sqlite3_value_type(v)) {
        case SQLITE_NULL:
            return {};
        case SQLITE_INTEGER:
        case SQLITE_FLOAT:
            return {Cell::Number, sqlite3_value_double(v)};
        default: {
            const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
            const int n = sqlite3_value_bytes(v);
            if (!p)
                return {};
            return {Cell::Text, 0,
                    QByteArrayView(p, visibleLength(p, n, m_dateOnly[size_t(column)]))};
        }
        }
    }

    QString text(int column) const override
    {
        const int c = column + m_first;
        switch (sqlite3_column_type(m_stmt.get(), c)) {
        case SQLITE_NULL:
            return {};
        case SQLITE_INTEGER:
            return QString::number(sqlite3_column_int64(m_stmt.get(), c));
        case SQLITE_FLOAT:
            return singleText(sqlite3_column_double(m_stmt.get(), c));
        default: {
            const QByteArrayView v = utf8(column);
            return QString::fromUtf8(v.data(), v.size());
        }
        }
    }

    double number(int column) const override
    {
        return sqlite3_column_double(m_stmt.get(), column + m_first);
    }

    QVariant value(int column) const override
    {
        return columnValue(m_stmt.get(), column + m_first, m_dateOnly[size_t(column)]);
    }

private:
    Statement m_stmt;
    int m_first;
    QStringList m_names;
    std::vector<char> m_dateOnly;
};

class SqliteRowUpdate : public RowUpdate
{
public:
    // The first row of "SELECT * FROM <from>", values bound.
    SqliteRowUpdate(sqlite3* db, const QString& tableName, const QString& from,
                    const QVariantList& values, const TableDef& table)
        : RowUpdate(table), m_db(db), m_table(tableName), m_loaded(table)
    {
        const QString sql = QStringLiteral("SELECT _rowid_, * FROM ") + from;
        Statement stmt(db, sql, values);
        if (!stmt.step())
            return;
        m_found = true;
        m_rowid = sqlite3_column_int64(stmt.get(), 0);
        const int n = sqlite3_column_count(stmt.get()) - 1;
        for (int i = 0; i < n; ++i) {
            m_columns << QString::fromUtf8(sqlite3_column_name(stmt.get(), i + 1));
            m_original.push_back(sqlite3_value_dup(sqlite3_column_value(stmt.get(), i + 1)));
            if (i < m_record.size())
                m_record.setFromDatabase(
                    i, columnValue(stmt.get(), i + 1,
                                   isDateOnlyDecl(sqlite3_column_decltype(stmt.get(), i + 1))));
        }
        m_loaded = m_record;
    }

    ~SqliteRowUpdate() override
    {
        for (sqlite3_value* v : m_original)
            sqlite3_value_free(v);
    }

    void store() override
    {
        if (!m_found)
            throw noCurrentRecordError();
        QStringList sets;
        QVariantList values;
        for (int i = 0; i < m_record.size() && i < int(m_columns.size()); ++i) {
            if (m_record.value(i) == m_loaded.value(i))
                continue;
            sets << m_columns.at(i) + QLatin1String("=?");
            values << stored(m_record.value(i), m_record.table().columns.at(size_t(i)).kind);
        }
        if (sets.isEmpty())
            return;
        QStringList checks{QStringLiteral("_rowid_=?")};
        for (const QString& c : m_columns)
            checks << c + QLatin1String(" IS ?");
        const QString sql =
            QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                .arg(m_table, sets.join(QLatin1Char(',')), checks.join(QLatin1String(" AND ")));
        Statement stmt(m_db, sql);
        int index = 1;
        for (const QVariant& v : values)
            bindValue(m_db, stmt.get(), index++, v);
        sqlite3_bind_int64(stmt.get(), index++, m_rowid);
        for (sqlite3_value* v : m_original)
            sqlite3_bind_value(stmt.get(), index++, v);
        stmt.step();
        if (sqlite3_changes(m_db) == 0)
            throw rowChangedError();
        m_loaded = m_record;
    }

private:
    sqlite3* m_db;
    QString m_table;
    qint64 m_rowid = 0;
    QStringList m_columns;
    std::vector<sqlite3_value*> m_original;
    RowRecord m_loaded;
};

// Checkpoints that a reader's snapshot kept from finishing. Every
// commit is followed by a checkpoint; while another connection (a second
// instance, a backup, the sqlite3 shell) still reads an older snapshot,
// the frames after it stay in the log. They are tried again on a timer
// until the readers let them through, on closing, and on the way out.
class PendingCheckpoints
{
public:
    static PendingCheckpoints& instance()
    {
        static PendingCheckpoints p;
        return p;
    }

    // Copies the log into the file as far as readers allow; true when
    // all of it is in. Never waits for a reader.
    static bool checkpoint(sqlite3* db)
    {
        int frames = 0, done = 0;
        if (sqlite3_wal_checkpoint_v2(db, "main", SQLITE_CHECKPOINT_PASSIVE, &frames, &done) !=
            SQLITE_OK)
            return false;
        return frames <= 0 || done >= frames;
    }

    void add(sqlite3* db)
    {
        m_pending.insert(db);
        if (!m_timer && QCoreApplication::instance()) {
            m_timer = new QTimer(QCoreApplication::instance());
            m_timer->setInterval(kRetryMs);
            QObject::connect(m_timer, &QTimer::timeout, [this] { retry(); });
        }
        if (m_timer && !m_timer->isActive())
            m_timer->start();
    }

    void remove(sqlite3* db) { m_pending.erase(db); }

    // On the way out nothing will try again: a reader's snapshot is
    // waited for a while (a backup or another instance lets go within
    // moments), so that the file alone holds every commit once the
    // program is gone.
    static bool checkpointBeforeLeaving(sqlite3* db)
    {
        const QDeadlineTimer deadline(kLeavingWaitMs);
        while (!checkpoint(db)) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(kLeavingRetryMs);
        }
        return true;
    }

    void finish()
    {
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (sqlite3_get_autocommit(*it) && checkpointBeforeLeaving(*it))
                it = m_pending.erase(it);
            else
                ++it;
        }
    }

    // One more try for each; a connection inside a transaction waits for
    // its commit, which checkpoints anyway.
    void retry()
    {
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (sqlite3_get_autocommit(*it) && checkpoint(*it))
                it = m_pending.erase(it);
            else
                ++it;
        }
        if (m_pending.empty() && m_timer)
            m_timer->stop();
    }

private:
    static constexpr int kRetryMs = 200;
    static constexpr int kLeavingWaitMs = 10000;
    static constexpr int kLeavingRetryMs = 20;
    std::set<sqlite3*> m_pending;
    QPointer<QTimer> m_timer;
};

// Called by SQLite after each commit in place of its own automatic
// checkpoint, which gives up silently when a reader is in the way.
int afterCommit(void*, sqlite3* db, const char*, int)
{
    if (!PendingCheckpoints::checkpoint(db))
        PendingCheckpoints::instance().add(db);
    return SQLITE_OK;
}

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
        const QString head =
            QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(table, names.join(QLatin1Char(',')));
        const QString tuple =
            QLatin1Char('(') +
            QStringList(names.size(), QStringLiteral("?")).join(QLatin1Char(',')) +
            QLatin1Char(')');
        const qsizetype perStatement = std::max<qsizetype>(1, kValuesPerAppend / names.size());
        QVariantList pending, values;
        qsizetype rows = 0;
        const auto flush = [&] {
            Statement stmt(m_db, head + QStringList(rows, tuple).join(QLatin1Char(',')), pending,
                           m_statements);
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
        return std::make_unique<SqliteRowSet>(
            m_db,
            QLatin1String(withRowIds ? "SELECT _rowid_, * FROM " : "SELECT * FROM ") +
                fromClause(rows),
            withRowIds, rows.values);
    }

    std::unique_ptr<RowUpdate> openRow(const TableRows& rows, const TableDef& table) override
    {
        checkOpen();
        return std::make_unique<SqliteRowUpdate>(m_db, rows.table, fromClause(rows), rows.values,
                                                 table);
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
        return std::make_unique<SqliteRowSet>(m_db, sql, false, values, m_statements);
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
    std::unique_ptr<RowSet> selectWithIds(const QString& from, const QVariantList& values) override
    {
        checkOpen();
        return std::make_unique<SqliteRowSet>(
            m_db, QStringLiteral("SELECT _rowid_, * FROM ") + from, true, values);
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
    qint64 insert(const char* verb, const QString& table, const QStringList& names,
                  const QVariantList& values)
    {
        checkOpen();
        checkAppendArguments(table, names, values);
        const QString sql =
            QStringLiteral("%1 INTO %2 (%3) VALUES (%4)")
                .arg(QLatin1String(verb), table, names.join(QLatin1Char(',')),
                     QStringList(names.size(), QStringLiteral("?")).join(QLatin1Char(',')));
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
            if (!m_reader) {
                PendingCheckpoints::instance().remove(m_db);
                if (sqlite3_get_autocommit(m_db))
                    PendingCheckpoints::checkpointBeforeLeaving(m_db);
            }
            sqlite3_close_v2(m_db);
            m_db = nullptr;
        }
    }

    sqlite3* m_db;
    bool m_reader = false;
    // Shared with the statements in use, which give theirs back to it.
    std::shared_ptr<StatementCache> m_statements;
};

void exec(sqlite3* db, const char* sql)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw engineError(db);
}

// Runs statements in one write transaction: all or none.
void execAll(sqlite3* db, const QStringList& statements)
{
    exec(db, "BEGIN IMMEDIATE");
    try {
        for (const QString& sql : statements)
            exec(db, sql.toUtf8().constData());
        exec(db, "COMMIT");
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

QStringList firstColumn(sqlite3* db, const QString& sql, const QString& argument = QString())
{
    Statement stmt(db, sql);
    const QByteArray a = argument.toUtf8();
    if (!argument.isNull())
        sqlite3_bind_text(stmt.get(), 1, a.constData(), int(a.size()), SQLITE_TRANSIENT);
    QStringList out;
    while (stmt.step())
        out << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)));
    return out;
}

// A file that is not a complete department database: what is wrong with
// it (what holds %1 for the file's name), and the way out.
DbError refusal(const QString& file, const QString& what)
{
    return DbError(
        DbError::kFail,
        QStringLiteral("%1\n程序没有打开这个文件，也没有改动它。请用备份恢复数据库，"
                       "或检查数据文件夹中的文件。")
            .arg(QString(what).replace(QLatin1String("%1"), QDir::toNativeSeparators(file))));
}

// What an existing file must be before it is opened: a non-empty SQLite
// file. Nothing is created in a file that fails.
void checkFileShape(const QString& file)
{
    const QFileInfo info(file);
    if (!info.isFile())
        throw refusal(file, QStringLiteral("“%1”不是一个文件。"));
    if (info.size() == 0)
        throw refusal(file,
                      QStringLiteral("数据库文件“%1”是空文件（0 字节），不是本系统的数据库。"));
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        throw DbError(DbError::Failure::CannotOpen, f.errorString(),
                      QDir::toNativeSeparators(file));
    static const QByteArray header("SQLite format 3\0", 16);
    if (f.read(16) != header)
        throw refusal(file, QStringLiteral("文件“%1”不是 SQLite 数据库文件。"));
}

// SQLite's quick check of every page and index. It reads the whole file,
// so it runs apart from opening (in the background after log-in, and on
// every backup and restore).
void checkIntact(sqlite3* db, const QString& file)
{
    const QStringList result = firstColumn(db, QStringLiteral("PRAGMA quick_check(1)"));
    if (result != QStringList{QStringLiteral("ok")})
        throw DbError(DbError::Failure::Damaged, result.join(QLatin1Char('\n')),
                      QDir::toNativeSeparators(file));
}

// Every table of the schema, its columns first and in their order (a site
// may have added columns after them); a table added later may be missing.
void checkTables(sqlite3* db, const QString& file)
{
    for (const TableDef* t : schema::all()) {
        const QStringList have =
            firstColumn(db, QStringLiteral("SELECT name FROM pragma_table_info(?)"), t->name);
        if (have.isEmpty() && t->addedLater)
            continue; // made when the file is opened
        if (have.isEmpty())
            throw refusal(file, QStringLiteral("数据库文件“%1”中没有表 ") + t->name +
                                    QStringLiteral("，不是完整的本系统数据库。"));
        const QStringList want = t->columnNames();
        bool same = have.size() >= want.size();
        for (qsizetype i = 0; same && i < want.size(); ++i)
            same = have.at(i).compare(want.at(i), Qt::CaseInsensitive) == 0;
        if (!same)
            throw refusal(
                file, QStringLiteral("数据库文件“%1”中表 ") + t->name + QStringLiteral("的列是 ") +
                          have.join(QLatin1String(", ")) + QStringLiteral("，本系统要求的是 ") +
                          want.join(QLatin1String(", ")) + QStringLiteral("（顺序也不能变）。"));
    }
}

// Files made before a table was added gain it, empty; their other tables
// and rows stay as they are.
void addLaterTables(sqlite3* db)
{
    QStringList work;
    for (const TableDef* t : schema::all())
        if (t->addedLater &&
            firstColumn(db, QStringLiteral("SELECT name FROM pragma_table_info(?)"), t->name)
                .isEmpty())
            work << schema::createTable(*t, Engine::Sqlite);
    if (work.isEmpty() || sqlite3_db_readonly(db, "main") == 1)
        return;
    execAll(db, work);
}

// Files of earlier versions normalise dates in triggers that call a
// function only that program had; they are replaced by the triggers of
// SQLite's own SQL. The rows are left as they are.
void upgradeTriggers(sqlite3* db)
{
    // Every trigger missing, calling a function of an earlier program
    // (vok_datetime), or kept from an earlier version with another text
    // (SQLite stores it without IF NOT EXISTS) is made anew.
    QHash<QString, QString> present; // by lower-case name: the stored text
    QStringList work;
    for (const QString& row :
         firstColumn(db, QStringLiteral("SELECT name || char(10) || sql FROM sqlite_master "
                                        "WHERE type='trigger'"))) {
        const qsizetype cut = row.indexOf(QLatin1Char('\n'));
        const QString name = row.left(cut);
        const QString sql = row.mid(cut + 1);
        if (sql.contains(QLatin1String("vok_datetime")))
            work << QStringLiteral("DROP TRIGGER \"%1\"")
                        .arg(QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")));
        else
            present.insert(name.toLower(), sql);
    }
    static const QRegularExpression nameOf(QStringLiteral("^CREATE TRIGGER IF NOT EXISTS (\\w+)"));
    bool changed = !work.isEmpty();
    for (const QString& sql : schema::sqliteTriggers()) {
        const QString name = nameOf.match(sql).captured(1);
        const auto it = present.constFind(name.toLower());
        if (it == present.constEnd()) {
            changed = true;
        } else if (*it != QString(sql).replace(QLatin1String("CREATE TRIGGER IF NOT EXISTS "),
                                               QLatin1String("CREATE TRIGGER "))) {
            work << QStringLiteral("DROP TRIGGER %1").arg(name);
            changed = true;
        }
    }
    if (!changed)
        return;
    if (sqlite3_db_readonly(db, "main") == 1)
        return; // nothing can be written to it anyway
    execAll(db, work + schema::sqliteTriggers());
}

std::function<void(const QString&)>& upgradeNotice()
{
    static std::function<void(const QString&)> notice;
    return notice;
}

// Files made before the program's indexes gain those they lack, each in a
// transaction of its own (on a large file an index takes a while: each is
// told before it is made). Indexes a site added stay as they are.
void addIndexes(sqlite3* db, const QString& file)
{
    QSet<QString> present;
    for (const QString& name :
         firstColumn(db, QStringLiteral("SELECT name FROM sqlite_master WHERE type='index'")))
        present.insert(name.toLower());
    std::vector<const IndexDef*> missing;
    for (const IndexDef& index : schema::indexes())
        if (!present.contains(index.name.toLower()))
            missing.push_back(&index);
    if (missing.empty() || sqlite3_db_readonly(db, "main") == 1)
        return;
    for (size_t i = 0; i < missing.size(); ++i) {
        if (upgradeNotice())
            upgradeNotice()(QStringLiteral("正在为数据库文件“%1”建立索引 %2（%3/%4），"
                                           "请稍候…")
                                .arg(QDir::toNativeSeparators(file), missing[i]->name)
                                .arg(i + 1)
                                .arg(missing.size()));
        execAll(db, {schema::createIndex(*missing[i], Engine::Sqlite)});
    }
    if (upgradeNotice())
        upgradeNotice()(QString());
}

// Makes the empty file of a new database, and its folder when missing,
// readable by the owner alone: they hold the stock and the password
// hashes. SQLite gives its -wal and -shm files the file's permissions.
void createPrivateFile(const QString& file)
{
    const QString dir = QFileInfo(file).absolutePath();
    if (!QFileInfo(dir).isDir()) {
        if (!QDir().mkpath(dir))
            throw DbError(
                DbError::kFail,
                QStringLiteral("无法创建数据文件夹“%1”。").arg(QDir::toNativeSeparators(dir)));
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const int fd = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0 && errno != EEXIST)
        throw DbError(DbError::Failure::CannotOpen, QString::fromLocal8Bit(std::strerror(errno)),
                      QDir::toNativeSeparators(file));
    if (fd >= 0)
        ::close(fd);
}

} // namespace

DbError sqliteError(sqlite3* db)
{
    return engineError(db);
}

void finishPendingCheckpoints()
{
    PendingCheckpoints::instance().finish();
}

namespace {

// A department's file opened read-only, for a look that writes nothing.
sqlite3* openForReading(const QString& file)
{
    sqlite3* db = nullptr;
    const QByteArray path = QFile::encodeName(file);
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        DbError e =
            db ? engineError(db)
               : DbError(DbError::Failure::CannotOpen, QString(), QDir::toNativeSeparators(file));
        sqlite3_close_v2(db);
        throw e;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db, 1);
    return db;
}

} // namespace

void checkDepartmentFile(const QString& file)
{
    checkFileShape(file);
    // Read-only: a file that is refused keeps every byte it had (its
    // journal mode included).
    sqlite3* db = openForReading(file);
    // A read-only look at a file in WAL mode makes its -wal and -shm
    // files; those it made go again when the file is refused.
    const QString wal = file + QLatin1String("-wal"), shm = file + QLatin1String("-shm");
    const bool hadWal = QFileInfo::exists(wal), hadShm = QFileInfo::exists(shm);
    try {
        checkTables(db, file);
    } catch (...) {
        sqlite3_close_v2(db);
        if (!hadWal && QFileInfo(wal).size() == 0)
            QFile::remove(wal);
        if (!hadShm && !QFileInfo::exists(wal))
            QFile::remove(shm);
        throw;
    }
    sqlite3_close_v2(db);
}

void checkDepartmentPages(const QString& file, const std::atomic<bool>* stop)
{
    sqlite3* db = openForReading(file);
    try {
        // Told to stop, the check ends early (SQLITE_INTERRUPT). SQLite looks
        // at the flag between the parts of its check only: on a large file
        // ending still takes about half a check's time.
        if (stop)
            sqlite3_progress_handler(
                db, 10000,
                [](void* flag) {
                    return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
                },
                const_cast<std::atomic<bool>*>(stop));
        if (stop && stop->load())
            throw DbError(
                DbError::kFail,
                QStringLiteral("数据库文件“%1”的检查已中止。").arg(QDir::toNativeSeparators(file)));
        checkIntact(db, file);
    } catch (...) {
        sqlite3_close_v2(db);
        throw;
    }
    sqlite3_close_v2(db);
}

void stopWrites(const QString& file, const QString& finding)
{
    DamagedFiles& d = DamagedFiles::instance();
    const std::lock_guard<std::mutex> guard(d.lock);
    d.findings.insert(DamagedFiles::key(file), finding);
    d.any = true;
}

bool writesStopped(const QString& file)
{
    return damageOf(file).has_value();
}

void allowWrites(const QString& file)
{
    DamagedFiles& d = DamagedFiles::instance();
    const std::lock_guard<std::mutex> guard(d.lock);
    d.findings.remove(DamagedFiles::key(file));
    d.any = !d.findings.isEmpty();
}

void setSchemaUpgradeNotice(std::function<void(const QString&)> notice)
{
    upgradeNotice() = std::move(notice);
}

ConnectionPtr openSqliteConnection(const QString& file)
{
    // Tables are made only in a file this call creates: an existing file
    // that is not a complete department database is refused as it is.
    const bool isNew = !QFileInfo::exists(file);
    if (isNew)
        createPrivateFile(file);
    else
        checkDepartmentFile(file);
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
            addLaterTables(db);
            upgradeTriggers(db);
            addIndexes(db, file);
        }
    } catch (...) {
        sqlite3_close_v2(db);
        // A file this call created and could not fill is not left behind
        // as an empty database.
        if (isNew && QFileInfo(file).size() == 0)
            QFile::remove(file);
        throw;
    }
    return std::make_shared<SqliteConnection>(db);
}

} // namespace vok
