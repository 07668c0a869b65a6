#pragma once

#include "db/Connection.h"

struct sqlite3;

namespace vok {

class DbError;

// Opens an embedded SQLite department database. A missing file is created
// with every table; an existing one must be a complete, undamaged
// department database (checked on opening) and is otherwise refused
// untouched; one made before a table was added gains it. Synchronous writes, a checkpoint after
// every commit and a busy timeout: a confirmed change is on the disk, the file alone is the
// database, and a second program instance waits for a writer.
// New files and a data folder this call creates are private to the owner.
ConnectionPtr openSqliteConnection(const QString& file);

// Checks an existing file as opening it does, without changing a byte of
// it: a non-empty SQLite file, undamaged (quick check), with the nine
// tables and their columns in order (and those of a table added later,
// when it has it). Throws DbError: the refusal, whose
// first line says what is wrong, or Failure::Damaged.
void checkDepartmentFile(const QString& file);

// The last failure of a raw SQLite handle, as the user is told it: the
// failure's Chinese text with what to do, SQLite's own text under it.
DbError sqliteError(sqlite3* db);

// The checkpoints a reader kept from finishing, waiting up to 10 s for the
// reader to let go; for the way out of the program (a signal to end it).
void finishPendingCheckpoints();

} // namespace vok
