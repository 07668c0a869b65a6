#pragma once

#include "db/Connection.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace vok {

// The folder that holds the backup copies: --backup-dir, else
// $VOK_BACKUP_DIR, else ~/备份.
namespace BackupFolder {
QString path();
// Set by --backup-dir and by tests; an empty text goes back to the default.
void setPath(const QString& path);
// The dated generations of earlier backups: 历史 in the backup folder.
QString historyPath();
} // namespace BackupFolder

// Copies of department databases. A copy is always an SQLite file of the
// embedded schema, whichever engine it was taken from, so that a copy of
// either engine restores on either. Every function throws DbError with a
// text fit to show the user.
namespace Backup {

// Reports how far a copy has got (done of total units); returning false
// cancels it, and nothing is changed.
using Progress = std::function<bool(qint64 done, qint64 total)>;

// Holds an advisory lock on a file or folder of ours while it is in use,
// so that another instance's clean-up leaves it alone.
class InUse
{
public:
    explicit InUse(const QString& path);
    ~InUse();
    InUse(const InUse&) = delete;
    InUse& operator=(const InUse&) = delete;

    // True when nothing holds the path: a leftover of a copy that was
    // killed. A path changed in the last seconds may be one just made.
    static bool isStale(const QString& path);

private:
    int m_fd;
};

// Why the file is not a sound copy (cannot be opened, fails the
// integrity check, lacks one of the nine tables, holds a table, column,
// index, view or trigger the program does not make); empty when it is. A
// copy made before a table was added is sound: it gains the table, empty;
// one of an earlier version may hold the date triggers of that version,
// which opening replaces.
QString checkCopy(const QString& file);

// The SHA-256 of a file's bytes as hex, empty when it cannot be read.
QByteArray sha256Of(const QString& file);

// The number of the department database a copy was taken of (1 for
// VOK1), written into the copy's header when it is made; 0 for a copy of
// an earlier version, which carries none, or a file that is no copy.
int departmentOfCopy(const QString& copy);

// Writes a consistent copy of an embedded database into target: SQLite's
// online backup API inside one read transaction, so that writers on other
// connections neither disturb nor wait for it. The copy goes to a
// temporary file, is checked and only then renamed over target; on any
// failure or cancel target stays as it was. False when cancelled.
bool copyEmbedded(const QString& databaseFile, const QString& target, const Progress& progress = {},
                  int department = 0);

// Writes the tables of a connection, read in one snapshot
// transaction, into target as an embedded database; same temporary file,
// check and rename as copyEmbedded. False when cancelled.
bool copyFromConnection(Connection& source, const QString& target, const Progress& progress = {},
                        int department = 0);

// The number of rows of each of the tables of a copy, in the schema's
// order.
QList<std::pair<QString, qint64>> rowCounts(const QString& copy);

// Copies a file to target through a temporary file beside it, renamed
// over target once it is on the disk.
void placeCopy(const QString& file, const QString& target);

// Copies the files of one folder into another in the same way, all of them
// or none: each is written to its temporary file first, and only when all
// are on the disk are they renamed over their targets.
void placeCopies(const QString& fromFolder, const QStringList& files, const QString& toFolder);

// Makes a folder and the missing ones above it readable by their owner
// alone, as the copies in them are; true when it exists afterwards.
bool makePrivateFolder(const QString& path);

// What a failed system call's error number means, in the user's words
// ("磁盘已满" for a full disk).
QString systemErrorText(int error);

// The turn of one backup in a backup folder: a lock on a file in it, held
// while the backup works, so that backups started at the same moment (by
// several programs, or the one at log-in and a button) take turns.
class FolderLock
{
public:
    // Waits for the turn; waiting, when given, is called every tenth of a
    // second meanwhile, and a false from it gives up (nothing).
    static std::optional<FolderLock> wait(const QString& folder,
                                          const std::function<bool()>& waiting = {});
    FolderLock(FolderLock&& other) noexcept;
    FolderLock& operator=(FolderLock&&) = delete;
    ~FolderLock();

private:
    explicit FolderLock(int fd) : m_fd(fd) {}
    int m_fd;
};

// The restores take the copy into a private scratch file first, which is
// checked (the SHA-256 too, when one is given), opened once through the
// engine so that an earlier version's date triggers become this version's,
// and checked again to hold this version's schema and nothing else; only
// then is its content put in.

// Puts the content of a checked copy into an embedded database file through
// the backup API: one write transaction, so connections other program
// instances hold see the old content or the new, never a mixture, and a
// cancel or failure leaves the old. False when cancelled.
bool restoreEmbedded(const QString& copy, const QString& databaseFile,
                     const Progress& progress = {});

// Replaces the rows of the tables of a connection by those of a
// checked copy, in one transaction. False when cancelled (nothing changed).
bool restoreIntoConnection(const QString& copy, Connection& target, const Progress& progress = {});

// A department database by its data source name: on the server when
// unixODBC defines the data source, else the embedded file in the data
// folder.
struct DepartmentDb
{
    QString dsn;
    bool onServer() const;
    // The embedded file (meaningful when not on the server).
    QString file() const;
    // True when there is a database to copy: the server's data source, or
    // the embedded file exists.
    bool exists() const;
    // The copy's file name in the backup folder: vok1.db …
    QString copyName() const;
    // 1 for VOK1 …; 0 for a data source of another name.
    int number() const;
};

// Removes what copies killed half-way left behind: their temporary files
// in the backup and data folders, the temporary folders of generations in
// the history and the scratch folders of restores in the system's
// temporary folder. A file another instance is still
// writing is left alone.
void removeStaleTemporaries();

bool backup(const DepartmentDb& department, const QString& target, const Progress& progress = {});
// Refuses a copy taken of another department (as its header says) and,
// when sha256 (hex) is given, a copy whose bytes differ from it.
bool restore(const QString& copy, const DepartmentDb& department, const Progress& progress = {},
             const QByteArray& sha256 = {});

} // namespace Backup

} // namespace vok
