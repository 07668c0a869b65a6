#include "db/SqliteStatement.h"

#include "db/Dialect.h"
#include "db/SqliteConnection.h"
#include "db/SqliteFileCheck.h"

#include <QDir>
#include <QFileInfo>

#include <cctype>
#include <cerrno>
#include <sys/statvfs.h>

namespace vok {

namespace sqlite {

namespace {

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

} // namespace

QString fileOf(sqlite3* db)
{
    const char* name = sqlite3_db_filename(db, "main");
    return name ? QFile::decodeName(name) : QString();
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

sqlite3_stmt* prepareOne(sqlite3* db, const QString& sql)
{
    const QByteArray utf8 = sql.toUtf8();
    const char* tail = nullptr;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &stmt, &tail) != SQLITE_OK)
        throw engineError(db);
    if (!stmt)
        throw DbError(DbError::Kind::Engine, QStringLiteral("SQL 语句为空。"));
    for (; tail && *tail; ++tail) {
        if (!std::isspace(static_cast<unsigned char>(*tail)) && *tail != ';') {
            sqlite3_finalize(stmt);
            throw DbError(DbError::Kind::Engine, QStringLiteral("一次只能执行一条 SQL 语句。"));
        }
    }
    return stmt;
}

Statement::Statement(sqlite3* db, const QString& sql, const QVariantList& values,
                     std::shared_ptr<StatementCache> cache)
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

bool Statement::step()
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

void Statement::release()
{
    if (const auto cache = m_cache.lock())
        cache->give(m_sql, m_stmt);
    else
        sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
}

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

void exec(sqlite3* db, const char* sql)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw engineError(db);
}

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

QStringList firstColumn(sqlite3* db, const QString& sql, const QString& argument)
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

} // namespace sqlite

DbError sqliteError(sqlite3* db)
{
    return sqlite::engineError(db);
}

} // namespace vok
