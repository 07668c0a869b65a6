#pragma once

#include "db/Connection.h"

#include <QString>
#include <functional>

namespace vok {

// The folder that holds the backup copies: --backup-dir, else
// $VOK_BACKUP_DIR, else ~/备份.
namespace BackupFolder {
QString path();
// Set by --backup-dir and by tests; an empty text goes back to the default.
void setPath(const QString& path);
} // namespace BackupFolder

// Copies of department databases. A copy is always an SQLite file of the
// embedded schema, whichever engine it was taken from, so that a copy of
// either engine restores on either. Every function throws DbError with a
// text fit to show the user.
namespace Backup {

// Reports how far a copy has got (done of total units); returning false
// cancels it, and nothing is changed.
using Progress = std::function<bool(qint64 done, qint64 total)>;

// Why the file is not a sound copy (cannot be opened, fails the
// integrity check, lacks one of the nine tables); empty when it is. A copy
// made before a table was added is sound: it gains the table, empty.
QString checkCopy(const QString& file);

// Writes a consistent copy of an embedded database into target: SQLite's
// online backup API inside one read transaction, so that writers on other
// connections neither disturb nor wait for it. The copy goes to a
// temporary file, is checked and only then renamed over target; on any
// failure or cancel target stays as it was. False when cancelled.
bool copyEmbedded(const QString& databaseFile, const QString& target,
                  const Progress& progress = {});

// Writes the tables of a connection, read in one snapshot
// transaction, into target as an embedded database; same temporary file,
// check and rename as copyEmbedded. False when cancelled.
bool copyFromConnection(Connection& source, const QString& target, const Progress& progress = {});

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
};

// Removes what copies killed half-way left behind: their temporary files
// in the backup and data folders and the scratch folders of restores in
// the system's temporary folder. A file another instance is still
// writing is left alone.
void removeStaleTemporaries();

bool backup(const DepartmentDb& department, const QString& target, const Progress& progress = {});
bool restore(const QString& copy, const DepartmentDb& department, const Progress& progress = {});

} // namespace Backup

} // namespace vok
