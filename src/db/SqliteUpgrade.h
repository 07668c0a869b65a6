#pragma once

// The embedded engine's upgrade of a file made by an earlier version on
// opening: the tables added since, the triggers of this version and the
// indexes it lacks; rows are left as they are. Used by SqliteConnection
// only.

#include <QString>

struct sqlite3;

namespace vok::sqlite {

// Brings an existing department file up to this version's schema; a
// read-only file is left as it is. Throws DbError.
void upgradeSchema(sqlite3* db, const QString& file);

} // namespace vok::sqlite
