#pragma once

// The embedded engine's checks of a department's file: its shape and
// tables before it is opened, its pages in the background, and the files
// found damaged, which every connection then refuses to write. Used by the
// files of SqliteConnection only (the checks themselves are declared in
// SqliteConnection.h).

#include <QString>

#include <optional>

struct sqlite3;

namespace vok::sqlite {

// What the page check found in the file, when it found it damaged.
std::optional<QString> damageOf(const QString& file);

// What an existing file must be before it is opened: a non-empty SQLite
// file. Throws DbError (a refusal of the file, untouched).
void checkFileShape(const QString& file);

// A department's file opened read-only, for a look that writes nothing.
sqlite3* openForReading(const QString& file);

// The -wal and -shm files beside a department's file as they were before
// a look at it: a look at a file in WAL mode makes them, and those it made
// go again when the file is refused.
class FilesBeside
{
public:
    explicit FilesBeside(const QString& file);
    // Removes an empty -wal file and a -shm file without a -wal file, when
    // they were not there before.
    void removeMade() const;

private:
    QString m_wal, m_shm;
    bool m_hadWal, m_hadShm;
};

// Whether a rollback journal left by a write that did not finish lies
// beside the file: a connection that may write puts it back on its first
// read, so such a file is looked at read-only first.
bool hasHotJournal(const QString& file);

// The checks of checkDepartmentFile on the connection just opened to
// write, before anything is written through it: closed after a refusal, it
// copies nothing from the -wal file into the file. Throws DbError.
void checkBeforeWriting(sqlite3* db, const QString& file);

// Makes the empty file of a new database, and its folder when missing,
// readable by the owner alone: they hold the stock and the password
// hashes. SQLite gives its -wal and -shm files the file's permissions.
void createPrivateFile(const QString& file);

} // namespace vok::sqlite
