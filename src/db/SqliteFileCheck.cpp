#include "db/SqliteFileCheck.h"

#include "db/DbError.h"
#include "db/Schema.h"
#include "db/SqliteConnection.h"
#include "db/SqliteStatement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace vok {

namespace sqlite {

namespace {

// How many of its steps SQLite runs between two looks at the stop flag.
constexpr int kStopCheckSteps = 10'000;

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

// A file that is not a complete department database: what is wrong with
// it (what holds %1 for the file's name), and the way out.
DbError refusal(const QString& file, const QString& what)
{
    return DbError(
        DbError::Kind::Engine,
        QStringLiteral("%1\n程序没有打开这个文件，也没有改动它。请用备份恢复数据库，"
                       "或检查数据文件夹中的文件。")
            .arg(QString(what).replace(QLatin1String("%1"), QDir::toNativeSeparators(file))));
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
        // Columns added later may be missing: opening adds them.
        bool same = have.size() >= want.size() - t->laterColumns;
        for (qsizetype i = 0; same && i < std::min(want.size(), have.size()); ++i)
            same = have.at(i).compare(want.at(i), Qt::CaseInsensitive) == 0;
        if (!same)
            throw refusal(
                file, QStringLiteral("数据库文件“%1”中表 ") + t->name + QStringLiteral("的列是 ") +
                          have.join(QLatin1String(", ")) + QStringLiteral("，本系统要求的是 ") +
                          want.join(QLatin1String(", ")) + QStringLiteral("（顺序也不能变）。"));
    }
}
} // namespace

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

void createPrivateFile(const QString& file)
{
    const QString dir = QFileInfo(file).absolutePath();
    if (!QFileInfo(dir).isDir()) {
        if (!QDir().mkpath(dir))
            throw DbError(
                DbError::Kind::Engine,
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

FilesBeside::FilesBeside(const QString& file)
    : m_wal(file + QLatin1String("-wal")), m_shm(file + QLatin1String("-shm")),
      m_hadWal(QFileInfo::exists(m_wal)), m_hadShm(QFileInfo::exists(m_shm))
{
}

void FilesBeside::removeMade() const
{
    if (!m_hadWal && QFileInfo::exists(m_wal) && QFileInfo(m_wal).size() == 0)
        QFile::remove(m_wal);
    if (!m_hadShm && !QFileInfo::exists(m_wal))
        QFile::remove(m_shm);
}

bool hasHotJournal(const QString& file)
{
    return QFileInfo(file + QLatin1String("-journal")).size() > 0;
}

void checkBeforeWriting(sqlite3* db, const QString& file)
{
    // Closed after a refusal, the connection copies nothing of the -wal
    // file into the file.
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    checkTables(db, file);
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
}

} // namespace sqlite

using namespace sqlite;

void checkDepartmentFile(const QString& file)
{
    checkFileShape(file);
    // Read-only: a file that is refused keeps every byte it had (its
    // journal mode included).
    const FilesBeside beside(file);
    sqlite3* db = openForReading(file);
    try {
        checkTables(db, file);
    } catch (...) {
        sqlite3_close_v2(db);
        beside.removeMade();
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
                db, kStopCheckSteps,
                [](void* flag) {
                    return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
                },
                const_cast<std::atomic<bool>*>(stop));
        if (stop && stop->load())
            throw DbError(
                DbError::Kind::Engine,
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
} // namespace vok
