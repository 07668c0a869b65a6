#include "db/Backup.h"

#include "db/DataFolder.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "db/SqliteConnection.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

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
    return DbError(DbError::kFail, text);
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
        if (!QDir().mkpath(info.absolutePath()))
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
void finishCopy(TempBeside& temp, const QString& target)
{
    {
        RawDb db(temp.path(), SQLITE_OPEN_READWRITE);
        db.exec("PRAGMA synchronous=OFF"); // synced as a whole below
        db.exec("PRAGMA journal_mode=DELETE");
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
        n += c.recordCount(QStringLiteral("SELECT * FROM ") + t->name);
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
            to.execute(QStringLiteral("DELETE FROM ") + (*t)->name);
    for (const TableDef* t : schema::all()) {
        auto rows = from.query(QStringLiteral("SELECT * FROM ") + t->name);
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
    } catch (const DbError& e) {
        return e.text().section(QLatin1Char('\n'), 0, 0);
    }
    return {};
}

bool Backup::copyEmbedded(const QString& databaseFile, const QString& target,
                          const Progress& progress)
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
    finishCopy(temp, target);
    return true;
}

bool Backup::copyFromConnection(Connection& source, const QString& target, const Progress& progress)
{
    TempBeside temp(target);
    {
        Transaction snapshot(source);
        if (source.engine() == Engine::Postgres)
            source.execute(
                QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY"));
        // The engine makes the tables only in a file it creates: the empty
        // placeholder that reserved the name goes first.
        QFile::remove(temp.path());
        const ConnectionPtr copy = openSqliteConnection(temp.path());
        copy->execute(QStringLiteral("PRAGMA synchronous=OFF")); // synced as a whole at the end
        Transaction write(*copy);
        if (!copyRows(source, *copy, false, progress))
            return false;
        write.commit();
        copy->close();
        snapshot.commit();
    }
    finishCopy(temp, target);
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
        const QByteArray sql = QStringLiteral("SELECT COUNT(*) FROM %1").arg(t->name).toUtf8();
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

void Backup::placeCopy(const QString& file, const QString& target)
{
    TempBeside temp(target);
    QFile in(file);
    QFile out(temp.path());
    if (!in.open(QIODevice::ReadOnly))
        throw failure(QStringLiteral("无法读取“%1”：%2").arg(nativeName(file), in.errorString()));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw failure(
            QStringLiteral("无法写入“%1”：%2").arg(nativeName(temp.path()), out.errorString()));
    while (!in.atEnd()) {
        const QByteArray block = in.read(1 << 20);
        if (block.isEmpty() || out.write(block) != block.size())
            throw failure(
                QStringLiteral("无法写入“%1”：%2").arg(nativeName(temp.path()), out.errorString()));
    }
    out.close();
    if (!syncFile(temp.path()) || std::rename(QFile::encodeName(temp.path()).constData(),
                                              QFile::encodeName(target).constData()) != 0)
        throw failure(QStringLiteral("无法把副本存为“%1”。").arg(nativeName(target)));
    temp.release();
    syncFile(QFileInfo(target).absolutePath());
}

bool Backup::restoreEmbedded(const QString& copy, const QString& databaseFile,
                             const Progress& progress)
{
    const QString problem = checkCopy(copy);
    if (!problem.isEmpty())
        throw failure(problem);
    RawDb src(copy, SQLITE_OPEN_READONLY);
    RawDb dst(databaseFile, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (!runBackup(dst, src, progress))
        return false;
    // Into the file itself, as after every commit of the program's own.
    sqlite3_wal_checkpoint_v2(dst.get(), "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    return true;
}

bool Backup::restoreIntoConnection(const QString& copy, Connection& target,
                                   const Progress& progress)
{
    const QString problem = checkCopy(copy);
    if (!problem.isEmpty())
        throw failure(problem);
    // The copy is read from a scratch file: opening it through the engine
    // would change its journal mode.
    QTemporaryDir scratch(QDir(QDir::tempPath()).filePath(QLatin1String(kScratchPrefix)) +
                          QStringLiteral("XXXXXX"));
    const Backup::InUse inUse(scratch.path());
    const QString file = scratch.filePath(QStringLiteral("copy.db"));
    if (!scratch.isValid() || !QFile::copy(copy, file))
        throw failure(QStringLiteral("无法读取副本“%1”。").arg(nativeName(copy)));
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    const ConnectionPtr source = openSqliteConnection(file);
    Transaction replace(target);
    if (!copyRows(*source, target, true, progress))
        return false;
    replace.commit();
    source->close();
    return true;
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

bool Backup::backup(const DepartmentDb& department, const QString& target, const Progress& progress)
{
    if (!department.onServer())
        return copyEmbedded(department.file(), target, progress);
    const ConnectionPtr c = openConnection(ConnectionString{department.dsn, {}, {}}.toString());
    const bool done = copyFromConnection(*c, target, progress);
    c->close();
    return done;
}

bool Backup::restore(const QString& copy, const DepartmentDb& department, const Progress& progress)
{
    if (!department.onServer())
        return restoreEmbedded(copy, department.file(), progress);
    const ConnectionPtr c = openConnection(ConnectionString{department.dsn, {}, {}}.toString());
    const bool done = restoreIntoConnection(copy, *c, progress);
    c->close();
    return done;
}

} // namespace vok
