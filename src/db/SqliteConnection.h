#pragma once

#include "db/Connection.h"

namespace vok {

// Opens (and creates with the nine tables, when missing) an embedded
// SQLite department database. WAL journal and a busy timeout let a second
// program instance wait for a writer instead of failing.
ConnectionPtr openSqliteConnection(const QString& file);

} // namespace vok
