#include "db/Backup.h"

#include "db/DataFolder.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "db/SqlText.h"
#include "db/SqliteConnection.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vok {

namespace {

QString& overridePath()
{
    static QString p;
    return p;
}

constexpr int kBusyTimeoutMs = 15000;
constexpr int kPagesPerStep = 64;
constexpr int kRowsPerReport = 200;

DbError failure(const QString& text)
{
    return DbError(DbError::Kind::File, text);
}

QString nativeName(const QString& file)
{
    return QDir::toNativeSeparators(file);
}

// One raw SQLite handle, closed when it goes.
class RawDb
{
public:
    RawDb(const QString& file, int flags)
    {
        const QByteArray path = QFile::encodeName(file);
        if (sqlite3_open_v2(path.constData(), &m_db, flags | SQLITE_OPEN_NOMUTEX, nullptr) !=
            SQLITE_OK) {
            const DbError why = m_db ? sqliteError(m_db)
                                     : DbError(DbError::Failure::CannotOpen, {}, nativeName(file));
            sqlite3_close_v2(m_db);
            m_db = nullptr;
            throw why;
        }
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        sqlite3_extended_result_codes(m_db, 1);
    }
    ~RawDb() { sqlite3_close_v2(m_db); }
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;

    sqlite3* get() const { return m_db; }
    QString error() const { return QString::fromUtf8(sqlite3_errmsg(m_db)); }

    void exec(const char* sql)
    {
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            throw sqliteError(m_db);
    }

private:
    sqlite3* m_db = nullptr;
};

constexpr char kTempSuffix[] = ".XXXXXX.tmp";
constexpr char kScratchPrefix[] = "vok-restore-";

// A temporary file beside target, removed unless it was renamed over it.
class TempBeside
{
public:
    explicit TempBeside(const QString& target)
    {
        const QFileInfo info(target);
        if (!Backup::makePrivateFolder(info.absolutePath()))
            throw failure(
                QStringLiteral("无法创建文件夹“%1”。").arg(nativeName(info.absolutePath())));
        QTemporaryFile file(info.absoluteFilePath() + QLatin1String(kTempSuffix));
        file.setAutoRemove(false);
        if (!file.open())
            throw failure(QStringLiteral("无法在“%1”中写入文件：%2")
                              .arg(nativeName(info.absolutePath()), file.errorString()));
        m_path = file.fileName();
        m_inUse = std::make_unique<Backup::InUse>(m_path);
    }
    ~TempBeside()
    {
        if (m_path.isEmpty())
            return;
        for (const char* suffix : {"", "-journal", "-wal", "-shm"})
            QFile::remove(m_path + QLatin1String(suffix));
    }
    TempBeside(const TempBeside&) = delete;
    TempBeside& operator=(const TempBeside&) = delete;

    const QString& path() const { return m_path; }
    void release() { m_path.clear(); }

private:
    QString m_path;
    std::unique_ptr<Backup::InUse> m_inUse;
};

bool syncFile(const QString& file)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Makes the copy one self-contained file, checks it, and puts it in
// place of target in one rename.
void finishCopy(TempBeside& temp, const QString& target, int department)
{
    {
        RawDb db(temp.path(), SQLITE_OPEN_READWRITE);
        db.exec("PRAGMA synchronous=OFF"); // synced as a whole below
        db.exec("PRAGMA journal_mode=DELETE");
        // The copy says whose it is, so that a record that hands it to
        // another department is found out.
        if (department > 0)
            db.exec(SqlText::compose("PRAGMA user_version=%1", {SqlText::number(department)})
                        .toString()
                        .toUtf8()
                        .constData());
    }
    const QString problem = Backup::checkCopy(temp.path());
    if (!problem.isEmpty())
        throw failure(QStringLiteral("新的副本检查未通过：%1").arg(problem));
    if (!syncFile(temp.path()))
        throw failure(QStringLiteral("无法写入“%1”。").arg(nativeName(temp.path())));
    if (std::rename(QFile::encodeName(temp.path()).constData(),
                    QFile::encodeName(target).constData()) != 0)
        throw failure(QStringLiteral("无法把副本存为“%1”。").arg(nativeName(target)));
    temp.release();
    syncFile(QFileInfo(target).absolutePath());
}

// Runs an online backup from src to dst in steps, reporting pages.
bool runBackup(RawDb& dst, RawDb& src, const Backup::Progress& progress)
{
    sqlite3_backup* b = sqlite3_backup_init(dst.get(), "main", src.get(), "main");
    if (!b)
        throw sqliteError(dst.get());
    for (;;) {
        const int rc = sqlite3_backup_step(b, kPagesPerStep);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
            sqlite3_sleep(20);
            continue;
        }
        if (rc != SQLITE_OK && rc != SQLITE_DONE) {
            sqlite3_backup_finish(b);
            throw sqliteError(dst.get());
        }
        const int total = sqlite3_backup_pagecount(b);
        if (progress && !progress(total - sqlite3_backup_remaining(b), total)) {
            sqlite3_backup_finish(b); // the destination's transaction is rolled back
            return false;
        }
        if (rc == SQLITE_DONE)
            break;
    }
    if (sqlite3_backup_finish(b) != SQLITE_OK)
        throw sqliteError(dst.get());
    return true;
}

qint64 rowTotal(Connection& c)
{
    qint64 n = 0;
    for (const TableDef* t : schema::all())
        n += c.count({t->name});
    return n;
}

// Appends every row of the tables of from to to, by column name.
bool copyRows(Connection& from, Connection& to, bool emptyFirst, const Backup::Progress& progress)
{
    const qint64 total = rowTotal(from);
    qint64 done = 0;
    if (progress && !progress(0, total))
        return false;
    // Emptied last table first and filled in order: the closed months go
    // before the rows they keep and come after them.
    if (emptyFirst)
        for (auto t = schema::all().rbegin(); t != schema::all().rend(); ++t)
            to.remove({(*t)->name});
    for (const TableDef* t : schema::all()) {
        auto rows = from.select({t->name});
        QList<int> columns;
        QStringList names;
        for (int i = 0; i < rows->columnCount(); ++i) {
            const int c = t->indexOf(rows->columnName(i));
            if (c < 0)
                continue; // a column of the engine's own, not of the schema
            columns << i;
            names << t->columns.at(size_t(c)).name;
        }
        while (rows->next()) {
            QVariantList values;
            values.reserve(columns.size());
            for (const int i : std::as_const(columns))
                values << rows->value(i);
            to.append(t->name, names, values);
            if (++done % kRowsPerReport == 0 && progress && !progress(done, total))
                return false;
        }
    }
    return !progress || progress(total, total);
}

// A table, index, view or trigger of a database's schema.
struct SchemaObject
{
    QString type;
    QString name;
    QString table;
    QString sql;
};

QList<SchemaObject> schemaObjects(sqlite3* db)
{
    // The indexes SQLite makes for UNIQUE have no text: they follow from
    // their table's. Statistics of ANALYZE change no row.
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db,
                           "SELECT type, name, tbl_name, sql FROM sqlite_master WHERE sql IS NOT "
                           "NULL AND name NOT LIKE 'sqlite^_stat%' ESCAPE '^'",
                           -1, &stmt, nullptr) != SQLITE_OK)
        throw sqliteError(db);
    const auto text = [stmt](int column) {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)));
    };
    QList<SchemaObject> objects;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
        objects.append({text(0), text(1), text(2), text(3)});
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        throw sqliteError(db);
    return objects;
}

// What the program makes in a new database, as SQLite keeps its text:
// made from the schema's own statements, so that whatever they create
// (tables, date triggers, indexes) is what a copy may hold.
const QList<SchemaObject>& programSchema()
{
    static const QList<SchemaObject> objects = [] {
        RawDb db(QStringLiteral(":memory:"), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        for (const QString& statement : schema::createStatements(Engine::Sqlite))
            db.exec(statement.toUtf8().constData());
        return schemaObjects(db.get());
    }();
    return objects;
}

QString kindName(const QString& type)
{
    if (type == QLatin1String("table"))
        return QStringLiteral("表格");
    if (type == QLatin1String("index"))
        return QStringLiteral("索引");
    if (type == QLatin1String("view"))
        return QStringLiteral("视图");
    return QStringLiteral("触发器");
}

// How a copy's table differs from the program's: a column more, a column
// of another type, or anything else in its definition; empty when it only
// lacks columns added later or has them added by opening.
QString tableDifference(sqlite3* db, const SchemaObject& have)
{
    const TableDef* def = schema::find(have.name);
    sqlite3_stmt* stmt = nullptr;
    if (def && sqlite3_prepare_v2(db, "SELECT name, type FROM pragma_table_xinfo(?)", -1, &stmt,
                                  nullptr) == SQLITE_OK) {
        const QByteArray name = have.name.toUtf8();
        sqlite3_bind_text(stmt, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        QString found;
        int at = 0; // the copy's columns so far, the program's in its order
        bool inOrder = true;
        while (found.isEmpty() && sqlite3_step(stmt) == SQLITE_ROW) {
            const QString column =
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
            inOrder = inOrder && def->indexOf(column) == at++;
            const QString type =
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)));
            const int i = def->indexOf(column);
            if (i < 0)
                found =
                    QStringLiteral("副本中的表格 %1 有本系统没有的列“%2”。").arg(have.name, column);
            else if (const QString want =
                         schema::sqlType(def->columns.at(size_t(i)).kind, Engine::Sqlite);
                     type.compare(want, Qt::CaseInsensitive) != 0)
                found = QStringLiteral("副本中表格 %1 的列“%2”的类型是 %3，本系统要求的是 %4。")
                            .arg(have.name, column,
                                 type.isEmpty() ? QStringLiteral("（无）") : type, want);
        }
        sqlite3_finalize(stmt);
        if (!found.isEmpty())
            return found;
        // The program's columns in order, but for some added later (which
        // opening adds) or with those added by opening.
        if (def->laterColumns > 0 && inOrder && at >= int(def->columns.size()) - def->laterColumns)
            return {};
    }
    return QStringLiteral("副本中表格 %1 的定义与本系统的不同：%2").arg(have.name, have.sql);
}

// Why a copy holds more or other than the program's schema; empty when it
// holds that and nothing else. A table may lack the UNIQUE that versions
// before it was added did not declare, and an index added later may be
// missing: opening does not need it. Unless the copy has been opened
// through the engine (normalised), a trigger of the program's name may
// have another text (an earlier version's, which opening replaces), and
// one calling an earlier version's function is dropped on opening.
QString schemaProblem(sqlite3* db, bool normalised)
{
    const QList<SchemaObject>& program = programSchema();
    for (const SchemaObject& have : schemaObjects(db)) {
        const auto it =
            std::find_if(program.begin(), program.end(), [&have](const SchemaObject& o) {
                return o.type == have.type && o.name.compare(have.name, Qt::CaseInsensitive) == 0;
            });
        if (!normalised && have.type == QLatin1String("trigger") &&
            (it != program.end() || have.sql.contains(QLatin1String("vok_datetime"))))
            continue;
        if (it == program.end())
            return QStringLiteral("副本中有本系统不建立的%1“%2”：%3")
                .arg(kindName(have.type), have.name, have.sql);
        if (have.sql == it->sql)
            continue;
        if (have.type == QLatin1String("table")) {
            if (have.sql == QString(it->sql).remove(QLatin1String(" UNIQUE")))
                continue;
            if (const QString difference = tableDifference(db, have); !difference.isEmpty())
                return difference;
            continue;
        }
        return QStringLiteral("副本中的%1“%2”与本系统的不同：%3")
            .arg(kindName(have.type), have.name, have.sql);
    }
    return {};
}

// A copy to restore, taken into a private scratch folder first, so that
// what is checked is what is put in.
class PreparedCopy
{
public:
    PreparedCopy(const QString& copy, const QByteArray& sha256)
        : m_scratch(QDir(QDir::tempPath()).filePath(QLatin1String(kScratchPrefix)) +
                    QStringLiteral("XXXXXX"))
    {
        const QString problem = Backup::checkCopy(copy);
        if (!problem.isEmpty())
            throw failure(problem);
        m_inUse = std::make_unique<Backup::InUse>(m_scratch.path());
        m_file = m_scratch.filePath(QStringLiteral("copy.db"));
        if (!m_scratch.isValid() || !QFile::copy(copy, m_file))
            throw failure(QStringLiteral("无法读取副本“%1”。").arg(nativeName(copy)));
        QFile::setPermissions(m_file, QFile::ReadOwner | QFile::WriteOwner);
        if (!sha256.isEmpty() && Backup::sha256Of(m_file) != sha256)
            throw failure(QStringLiteral("备份文件“%1”的内容与备份记录不符（SHA-256 不同）："
                                         "它在备份之后被改动过或已损坏。")
                              .arg(nativeName(copy)));
        // Opening gives an earlier version's copy this version's date
        // triggers; then it must hold exactly the program's schema.
        openSqliteConnection(m_file)->close();
        {
            RawDb db(m_file, SQLITE_OPEN_READWRITE);
            db.exec("PRAGMA journal_mode=DELETE");
            const QString foreign = schemaProblem(db.get(), true);
            if (!foreign.isEmpty())
                throw failure(foreign);
        }
    }

    const QString& file() const { return m_file; }

private:
    QTemporaryDir m_scratch;
    std::unique_ptr<Backup::InUse> m_inUse;
    QString m_file;
};

bool putIntoFile(const QString& scratch, const QString& databaseFile,
                 const Backup::Progress& progress)
{
    RawDb src(scratch, SQLITE_OPEN_READONLY);
    RawDb dst(databaseFile, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (!runBackup(dst, src, progress))
        return false;
    // Into the file itself, as after every commit of the program's own.
    sqlite3_wal_checkpoint_v2(dst.get(), "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    return true;
}

bool putIntoConnection(const QString& scratch, Connection& target, const Backup::Progress& progress)
{
    const ConnectionPtr source = openSqliteConnection(scratch);
    Transaction replace(target);
    if (!copyRows(*source, target, true, progress))
        return false;
    replace.commit();
    source->close();
    return true;
}

} // namespace

QString BackupFolder::path()
{
    if (!overridePath().isEmpty())
        return overridePath();
    const QString env = qEnvironmentVariable("VOK_BACKUP_DIR");
    if (!env.isEmpty())
        return env;
    return QDir::home().filePath(QStringLiteral("备份"));
}

void BackupFolder::setPath(const QString& path)
{
    overridePath() = path;
}

QString BackupFolder::historyPath()
{
    return QDir(path()).filePath(QStringLiteral("历史"));
}

Backup::InUse::InUse(const QString& path)
    : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC))
{
    if (m_fd >= 0)
        ::flock(m_fd, LOCK_EX);
}

Backup::InUse::~InUse()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Backup::InUse::isStale(const QString& path)
{
    if (QFileInfo(path).lastModified().secsTo(QDateTime::currentDateTime()) < 10)
        return false;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

QString Backup::checkCopy(const QString& file)
{
    if (!QFileInfo(file).isFile())
        return QStringLiteral("文件“%1”不存在。").arg(nativeName(file));
    try {
        RawDb db(file, SQLITE_OPEN_READONLY);
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db.get(), "PRAGMA integrity_check", -1, &stmt, nullptr) != SQLITE_OK)
            return QStringLiteral("不是有效的数据库文件（%1）。").arg(db.error());
        QStringList problems;
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
            problems << QString::fromUtf8(
                reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE)
            return QStringLiteral("不是有效的数据库文件（%1）。").arg(db.error());
        if (problems != QStringList{QStringLiteral("ok")})
            return QStringLiteral("完整性检查未通过（%1）。").arg(problems.value(0));
        QStringList missing;
        for (const TableDef* t : schema::all()) {
            if (sqlite3_prepare_v2(db.get(),
                                   "SELECT 1 FROM sqlite_master WHERE type='table' AND name=? "
                                   "COLLATE NOCASE",
                                   -1, &stmt, nullptr) != SQLITE_OK)
                return QStringLiteral("不是有效的数据库文件（%1）。").arg(db.error());
            const QByteArray name = t->name.toUtf8();
            sqlite3_bind_text(stmt, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
            if (sqlite3_step(stmt) != SQLITE_ROW && !t->addedLater)
                missing << t->name;
            sqlite3_finalize(stmt);
        }
        if (!missing.isEmpty())
            return QStringLiteral("缺少表格 %1。").arg(missing.join(QStringLiteral("、")));
    } catch (const DbError& e) {
        return e.text();
    }
    // Every check that opening a department applies (the columns and
    // their order among them), so that a restored copy opens.
    try {
        checkDepartmentFile(file);
        RawDb db(file, SQLITE_OPEN_READONLY);
        return schemaProblem(db.get(), false);
    } catch (const DbError& e) {
        return e.text().section(QLatin1Char('\n'), 0, 0);
    }
}

QByteArray Backup::sha256Of(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&f))
        return {};
    return hash.result().toHex();
}

int Backup::departmentOfCopy(const QString& copy)
{
    // The header's user version, at byte 60, big-endian.
    QFile f(copy);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray header = f.read(100);
    if (header.size() < 100 || !header.startsWith(QByteArrayLiteral("SQLite format 3")))
        return 0;
    const auto byte = [&header](int i) { return quint32(quint8(header.at(i))); };
    const quint32 n = byte(60) << 24 | byte(61) << 16 | byte(62) << 8 | byte(63);
    return n <= 0x7fffffff ? int(n) : 0;
}

bool Backup::copyEmbedded(const QString& databaseFile, const QString& target,
                          const Progress& progress, int department)
{
    if (!QFileInfo(databaseFile).isFile())
        throw failure(QStringLiteral("数据库文件“%1”不存在。").arg(nativeName(databaseFile)));
    TempBeside temp(target);
    {
        RawDb src(databaseFile, SQLITE_OPEN_READWRITE);
        // One read transaction over the whole copy: every step sees the
        // same snapshot, whatever other connections write meanwhile.
        src.exec("BEGIN");
        src.exec("SELECT COUNT(*) FROM sqlite_master");
        RawDb dst(temp.path(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        // The temporary file is put on the disk as a whole before it
        // counts: syncing each of its steps would only cost time.
        dst.exec("PRAGMA synchronous=OFF");
        if (!runBackup(dst, src, progress))
            return false;
        src.exec("COMMIT");
    }
    finishCopy(temp, target, department);
    return true;
}

bool Backup::copyFromConnection(Connection& source, const QString& target, const Progress& progress,
                                int department)
{
    TempBeside temp(target);
    {
        Transaction snapshot(source);
        if (source.engine() == Engine::Postgres)
            source.executeWith(
                QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY"), {});
        // The engine makes the tables only in a file it creates: the empty
        // placeholder that reserved the name goes first.
        QFile::remove(temp.path());
        const ConnectionPtr copy = openSqliteConnection(temp.path());
        // Synced as a whole at the end.
        copy->executeWith(QStringLiteral("PRAGMA synchronous=OFF"), {});
        Transaction write(*copy);
        if (!copyRows(source, *copy, false, progress))
            return false;
        write.commit();
        copy->close();
        snapshot.commit();
    }
    finishCopy(temp, target, department);
    return true;
}

QList<std::pair<QString, qint64>> Backup::rowCounts(const QString& copy)
{
    RawDb db(copy, SQLITE_OPEN_READONLY);
    QList<std::pair<QString, qint64>> counts;
    for (const TableDef* t : schema::all()) {
        sqlite3_stmt* stmt = nullptr;
        // A copy made before a table was added has none of its rows.
        const QByteArray name = t->name.toUtf8();
        if (sqlite3_prepare_v2(db.get(),
                               "SELECT 1 FROM sqlite_master WHERE type='table' AND name=? "
                               "COLLATE NOCASE",
                               -1, &stmt, nullptr) != SQLITE_OK)
            throw sqliteError(db.get());
        sqlite3_bind_text(stmt, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        const bool present = sqlite3_step(stmt) == SQLITE_ROW;
        sqlite3_finalize(stmt);
        if (!present) {
            counts.append({t->name, 0});
            continue;
        }
        const QByteArray sql = SqlText::compose("SELECT COUNT(*) FROM %1", {SqlText::name(t->name)})
                                   .toString()
                                   .toUtf8();
        if (sqlite3_prepare_v2(db.get(), sql.constData(), -1, &stmt, nullptr) != SQLITE_OK)
            throw sqliteError(db.get());
        const int rc = sqlite3_step(stmt);
        const qint64 n = rc == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
        sqlite3_finalize(stmt);
        if (rc != SQLITE_ROW)
            throw sqliteError(db.get());
        counts.append({t->name, n});
    }
    return counts;
}

namespace {

// Writes the bytes of file into the temporary file; throws naming the
// cause (a full disk in the user's words).
void writeInto(const QString& file, const QString& temp)
{
    const int in = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        throw failure(QStringLiteral("无法读取“%1”：%2")
                          .arg(nativeName(file), Backup::systemErrorText(errno)));
    const int out = ::open(QFile::encodeName(temp).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        throw failure(QStringLiteral("无法写入“%1”：%2")
                          .arg(nativeName(temp), Backup::systemErrorText(error)));
    }
    std::vector<char> block(1 << 20);
    int error = 0;
    for (;;) {
        const ssize_t n = ::read(in, block.data(), block.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : 0;
            break;
        }
        ssize_t done = 0;
        while (done < n && error == 0) {
            const ssize_t w = ::write(out, block.data() + done, size_t(n - done));
            if (w < 0 && errno != EINTR)
                error = errno;
            else if (w > 0)
                done += w;
        }
        if (error)
            break;
    }
    if (error == 0 && ::fsync(out) != 0)
        error = errno;
    ::close(in);
    ::close(out);
    if (error)
        throw failure(QStringLiteral("无法写入“%1”：%2")
                          .arg(nativeName(temp), Backup::systemErrorText(error)));
}

void renameOver(const QString& from, const QString& target)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(target).constData()) !=
        0)
        throw failure(QStringLiteral("无法把副本存为“%1”：%2")
                          .arg(nativeName(target), Backup::systemErrorText(errno)));
}

} // namespace

void Backup::placeCopy(const QString& file, const QString& target)
{
    TempBeside temp(target);
    writeInto(file, temp.path());
    renameOver(temp.path(), target);
    temp.release();
    syncFile(QFileInfo(target).absolutePath());
}

void Backup::placeCopies(const QString& fromFolder, const QStringList& files,
                         const QString& toFolder)
{
    std::vector<std::unique_ptr<TempBeside>> temps;
    for (const QString& name : files) {
        temps.push_back(std::make_unique<TempBeside>(QDir(toFolder).filePath(name)));
        writeInto(QDir(fromFolder).filePath(name), temps.back()->path());
    }
    for (qsizetype i = 0; i < files.size(); ++i) {
        renameOver(temps.at(size_t(i))->path(), QDir(toFolder).filePath(files.at(i)));
        temps.at(size_t(i))->release();
    }
    syncFile(toFolder);
}

bool Backup::makePrivateFolder(const QString& path)
{
    QStringList missing;
    for (QDir dir(QDir(path).absolutePath()); !dir.exists();
         dir.setPath(QFileInfo(dir.path()).path())) {
        missing.prepend(dir.path());
        if (dir.isRoot())
            break;
    }
    for (const QString& folder : std::as_const(missing))
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST)
            return false;
    return QFileInfo(path).isDir();
}

QString Backup::systemErrorText(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘已满。请腾出磁盘空间后再试。");
    case EROFS:
        return QStringLiteral("磁盘是只读的。");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有写入权限。");
    case EIO:
        return QStringLiteral("磁盘读写出错。");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

std::optional<Backup::FolderLock> Backup::FolderLock::wait(const QString& folder,
                                                           const std::function<bool()>& waiting)
{
    const QString file = QDir(folder).filePath(QStringLiteral(".vok-backup.lock"));
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        throw failure(
            QStringLiteral("无法在“%1”中写入：%2").arg(nativeName(folder), systemErrorText(errno)));
    if (!waiting) {
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        return FolderLock(fd);
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (!waiting()) {
            ::close(fd);
            return std::nullopt;
        }
        ::usleep(100 * 1000);
    }
    return FolderLock(fd);
}

Backup::FolderLock::FolderLock(FolderLock&& other) noexcept : m_fd(other.m_fd)
{
    other.m_fd = -1;
}

Backup::FolderLock::~FolderLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Backup::restoreEmbedded(const QString& copy, const QString& databaseFile,
                             const Progress& progress)
{
    const PreparedCopy prepared(copy, {});
    if (!putIntoFile(prepared.file(), databaseFile, progress))
        return false;
    // The checked copy replaced a file the page check may have found damaged.
    allowWrites(databaseFile);
    return true;
}

bool Backup::restoreIntoConnection(const QString& copy, Connection& target,
                                   const Progress& progress)
{
    const PreparedCopy prepared(copy, {});
    return putIntoConnection(prepared.file(), target, progress);
}

void Backup::removeStaleTemporaries()
{
    // Copies under way in the backup folder and, for the data kept by a
    // restore, in the data folder: "vok1.db.XXXXXX.tmp" and its journals.
    for (const QString& folder : {BackupFolder::path(), DataFolder::path()}) {
        const QDir dir(folder);
        for (const QString& name :
             dir.entryList({QStringLiteral("vok*.db.??????.tmp")}, QDir::Files | QDir::Hidden)) {
            const QString path = dir.filePath(name);
            if (!InUse::isStale(path))
                continue;
            for (const char* suffix : {"-journal", "-wal", "-shm", ""})
                QFile::remove(path + QLatin1String(suffix));
        }
    }
    // Generations being written: "2026-12-09_173045.XXXXXX.tmp" in the
    // history, renamed only once complete.
    const QDir history(BackupFolder::historyPath());
    for (const QString& name : history.entryList(
             {QStringLiteral("*.??????.tmp")}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString path = history.filePath(name);
        if (InUse::isStale(path))
            QDir(path).removeRecursively();
    }
    // The scratch folders of restores into a server.
    const QDir temp(QDir::tempPath());
    for (const QString& name :
         temp.entryList({QLatin1String(kScratchPrefix) + QStringLiteral("??????")},
                        QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString path = temp.filePath(name);
        if (QFileInfo(path).isWritable() && InUse::isStale(path))
            QDir(path).removeRecursively();
    }
}

bool Backup::DepartmentDb::onServer() const
{
    return odbcDataSourceExists(dsn);
}

QString Backup::DepartmentDb::file() const
{
    return DataFolder::databaseFile(dsn);
}

bool Backup::DepartmentDb::exists() const
{
    return onServer() || QFileInfo(file()).isFile();
}

QString Backup::DepartmentDb::copyName() const
{
    return dsn.toLower() + QStringLiteral(".db");
}

int Backup::DepartmentDb::number() const
{
    if (!dsn.startsWith(QLatin1String("VOK"), Qt::CaseInsensitive))
        return 0;
    bool ok = false;
    const int n = dsn.mid(3).toInt(&ok);
    return ok && n > 0 ? n : 0;
}

bool Backup::backup(const DepartmentDb& department, const QString& target, const Progress& progress)
{
    if (!department.onServer())
        return copyEmbedded(department.file(), target, progress, department.number());
    const ConnectionPtr c = openConnection(ConnectionString{department.dsn, {}, {}}.toString());
    const bool done = copyFromConnection(*c, target, progress, department.number());
    c->close();
    return done;
}

bool Backup::restore(const QString& copy, const DepartmentDb& department, const Progress& progress,
                     const QByteArray& sha256)
{
    const PreparedCopy prepared(copy, sha256);
    const int of = departmentOfCopy(prepared.file());
    if (of != 0 && department.number() != 0 && of != department.number())
        throw failure(QStringLiteral("备份文件“%1”是数据库 VOK%2 的副本，不能还原到 %3。")
                          .arg(nativeName(copy))
                          .arg(of)
                          .arg(department.dsn));
    if (!department.onServer())
        return putIntoFile(prepared.file(), department.file(), progress);
    const ConnectionPtr c = openConnection(ConnectionString{department.dsn, {}, {}}.toString());
    const bool done = putIntoConnection(prepared.file(), *c, progress);
    c->close();
    return done;
}

} // namespace vok
