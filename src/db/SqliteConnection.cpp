#include "db/SqliteConnection.h"

#include "db/DbError.h"
#include "db/RowRecord.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <cstring>

#include <sqlite3.h>

namespace vok {

namespace {

constexpr int kBusyTimeoutMs = 15000;

DbError engineError(sqlite3* db)
{
    return DbError(DbError::kFail, QString::fromUtf8(sqlite3_errmsg(db)));
}

// vok_datetime(x): the normalised form of a date text, or x unchanged.
void sqlVokDatetime(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_TEXT) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
        const int n = sqlite3_value_bytes(argv[0]);
        if (const auto dt = parseDateTime(QString::fromUtf8(p, n))) {
            const QByteArray out = dt->normalizedFull().toUtf8();
            sqlite3_result_text(ctx, out.constData(), int(out.size()), SQLITE_TRANSIENT);
            return;
        }
    }
    sqlite3_result_value(ctx, argv[0]);
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

class Statement
{
public:
    Statement(sqlite3* db, const QString& sql) : m_db(db)
    {
        const QByteArray utf8 = sql.toUtf8();
        const char* tail = nullptr;
        if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &m_stmt, &tail) != SQLITE_OK)
            throw engineError(db);
        if (!m_stmt)
            throw DbError(DbError::kFail, QStringLiteral("SQL 语句为空。"));
        for (; tail && *tail; ++tail) {
            if (!std::isspace(static_cast<unsigned char>(*tail)) && *tail != ';') {
                sqlite3_finalize(m_stmt);
                m_stmt = nullptr;
                throw DbError(DbError::kFail, QStringLiteral("一次只能执行一条 SQL 语句。"));
            }
        }
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
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
        throw engineError(m_db);
    }

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
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

class SqliteRowSet : public RowSet
{
public:
    // With withRowId the text selects the rowid first; it is kept apart
    // from the result's columns.
    SqliteRowSet(sqlite3* db, const QString& sql, bool withRowId = false)
        : m_stmt(db, sql), m_first(withRowId ? 1 : 0)
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
    std::vector<bool> m_dateOnly;
};

class SqliteRowUpdate : public RowUpdate
{
public:
    SqliteRowUpdate(sqlite3* db, const QString& translatedSelect, const TableDef& table)
        : RowUpdate(table), m_db(db), m_loaded(table)
    {
        const auto select = matchSelectStarFrom(translatedSelect);
        if (!select)
            throw DbError(DbError::kFail,
                          QStringLiteral("更新只能打开“SELECT * FROM 表”形式的查询。"));
        m_table = select->table;
        const QString sql =
            QStringLiteral("SELECT _rowid_, * FROM ") + translatedSelect.mid(select->tableStart);
        Statement stmt(db, sql);
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
            values << m_record.value(i);
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

class SqliteConnection : public Connection
{
public:
    explicit SqliteConnection(sqlite3* db) : m_db(db) {}
    ~SqliteConnection() override { closeDb(); }

    Engine engine() const override { return Engine::Sqlite; }
    bool isOpen() const override { return m_db != nullptr; }
    void close() override { closeDb(); }

    void execute(const QString& sql) override { executeCount(sql); }

    qint64 executeCount(const QString& sql) override
    {
        checkOpen();
        Statement stmt(m_db, translateSql(sql, Engine::Sqlite));
        while (stmt.step()) {
        }
        return sqlite3_changes64(m_db);
    }

    std::unique_ptr<RowSet> query(const QString& sql) override
    {
        checkOpen();
        return std::make_unique<SqliteRowSet>(m_db, translateSql(sql, Engine::Sqlite));
    }

    std::unique_ptr<RowSet> queryWithRowIds(const QString& sql) override
    {
        checkOpen();
        const QString translated = translateSql(sql, Engine::Sqlite);
        const auto select = matchSelectStarFrom(translated);
        if (!select)
            return std::make_unique<SqliteRowSet>(m_db, translated);
        return std::make_unique<SqliteRowSet>(
            m_db, QStringLiteral("SELECT _rowid_, * FROM ") + translated.mid(select->tableStart),
            true);
    }

    QString rowIdCondition(qint64 rowId) const override
    {
        return QStringLiteral("_rowid_=%1").arg(rowId);
    }

    qint64 recordCount(const QString& sql) override
    {
        checkOpen();
        Statement stmt(
            m_db,
            QStringLiteral("SELECT COUNT(*) FROM (%1)").arg(translateSql(sql, Engine::Sqlite)));
        stmt.step();
        return sqlite3_column_int64(stmt.get(), 0);
    }

    void append(const QString& table, const QStringList& names, const QVariantList& values) override
    {
        insert("INSERT", table, names, values);
    }

    bool appendUnlessPresent(const QString& table, const QStringList& names,
                             const QVariantList& values) override
    {
        return insert("INSERT OR IGNORE", table, names, values) > 0;
    }

    // The transaction began with BEGIN IMMEDIATE and so holds the write
    // lock: no other connection changes any row until it ends.
    qint64 lockRows(const QString& select) override
    {
        checkInTransaction();
        return recordCount(select);
    }

    std::unique_ptr<RowUpdate> openUpdate(const QString& select, const TableDef& table) override
    {
        checkOpen();
        return std::make_unique<SqliteRowUpdate>(m_db, translateSql(select, Engine::Sqlite), table);
    }

protected:
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
        if (!isPlainIdentifier(table) || names.isEmpty() || names.size() != values.size())
            throw DbError(DbError::kFail, QStringLiteral("添加记录的参数无效。"));
        for (const QString& n : names)
            if (!isPlainIdentifier(n))
                throw DbError(DbError::kFail, QStringLiteral("列名“%1”无效。").arg(n));
        const QString sql =
            QStringLiteral("%1 INTO %2 (%3) VALUES (%4)")
                .arg(QLatin1String(verb), table, names.join(QLatin1Char(',')),
                     QStringList(names.size(), QStringLiteral("?")).join(QLatin1Char(',')));
        sqlite3_stmt* stmt = cachedStatement(sql);
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        for (int i = 0; i < values.size(); ++i)
            bindValue(m_db, stmt, i + 1, values.at(i));
        const int rc = sqlite3_step(stmt);
        if (rc != SQLITE_DONE) {
            DbError e = engineError(m_db);
            sqlite3_reset(stmt);
            throw e;
        }
        sqlite3_reset(stmt);
        return sqlite3_changes64(m_db);
    }

    void run(const char* sql)
    {
        checkOpen();
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            throw engineError(m_db);
    }

    sqlite3_stmt* cachedStatement(const QString& sql)
    {
        auto it = m_cache.find(sql);
        if (it != m_cache.end())
            return it.value();
        sqlite3_stmt* stmt = nullptr;
        const QByteArray utf8 = sql.toUtf8();
        if (sqlite3_prepare_v2(m_db, utf8.constData(), int(utf8.size()), &stmt, nullptr) !=
            SQLITE_OK)
            throw engineError(m_db);
        m_cache.insert(sql, stmt);
        return stmt;
    }

    void closeDb()
    {
        for (sqlite3_stmt* s : std::as_const(m_cache))
            sqlite3_finalize(s);
        m_cache.clear();
        if (m_db) {
            sqlite3_close_v2(m_db);
            m_db = nullptr;
        }
    }

    sqlite3* m_db;
    QHash<QString, sqlite3_stmt*> m_cache;
};

void createMissingTables(sqlite3* db)
{
    bool complete = true;
    for (const TableDef* t : schema::all()) {
        Statement stmt(db, QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='table' AND "
                                          "name=? COLLATE NOCASE"));
        const QByteArray name = t->name.toUtf8();
        sqlite3_bind_text(stmt.get(), 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        if (!stmt.step()) {
            complete = false;
            break;
        }
    }
    if (complete)
        return;
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        throw engineError(db);
    try {
        for (const QString& sql : schema::createStatements(Engine::Sqlite)) {
            const QByteArray utf8 = sql.toUtf8();
            if (sqlite3_exec(db, utf8.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
                throw engineError(db);
        }
        if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
            throw engineError(db);
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

} // namespace

ConnectionPtr openSqliteConnection(const QString& file)
{
    const QString dir = QFileInfo(file).absolutePath();
    if (!QDir().mkpath(dir))
        throw DbError(DbError::kFail, QStringLiteral("无法创建数据文件夹“%1”。").arg(dir));
    sqlite3* db = nullptr;
    const QByteArray path = QFile::encodeName(file);
    const int rc =
        sqlite3_open_v2(path.constData(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        DbError e =
            db ? engineError(db) : DbError(DbError::kFail, QStringLiteral("无法打开数据库文件。"));
        sqlite3_close_v2(db);
        throw e;
    }
    try {
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        sqlite3_extended_result_codes(db, 1);
        if (sqlite3_create_function_v2(db, "vok_datetime", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                       nullptr, sqlVokDatetime, nullptr, nullptr,
                                       nullptr) != SQLITE_OK)
            throw engineError(db);
        if (sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) != SQLITE_OK)
            throw engineError(db);
        if (sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr) != SQLITE_OK)
            throw engineError(db);
        createMissingTables(db);
    } catch (...) {
        sqlite3_close_v2(db);
        throw;
    }
    return std::make_shared<SqliteConnection>(db);
}

} // namespace vok
