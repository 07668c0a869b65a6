#pragma once

#include "db/Connection.h"

namespace vok {

// Opens an embedded SQLite department database. A missing file is created
// with the nine tables; an existing one must be a complete, undamaged
// department database (checked on opening) and is otherwise refused
// untouched. Synchronous writes, a checkpoint after every commit and a
// busy timeout: a confirmed change is on the disk, the file alone is the
// database, and a second program instance waits for a writer.
ConnectionPtr openSqliteConnection(const QString& file);

} // namespace vok
