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

// Makes the empty file of a new database, and its folder when missing,
// readable by the owner alone: they hold the stock and the password
// hashes. SQLite gives its -wal and -shm files the file's permissions.
void createPrivateFile(const QString& file);

} // namespace vok::sqlite
