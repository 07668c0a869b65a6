#pragma once

// The embedded engine's results: the rows of a query, read by cell for
// long lists, and a row opened for update that stores only when nobody
// changed it meanwhile. Used by the files of SqliteConnection only.

#include "db/Connection.h"
#include "db/SqliteStatement.h"

#include <memory>

namespace vok::sqlite {

// The rows of a query, values bound; with withRowId the text selects the
// rowid first, which is kept apart from the result's columns.
std::unique_ptr<RowSet> openRowSet(sqlite3* db, const QString& sql, bool withRowId = false,
                                   const QVariantList& values = {},
                                   std::shared_ptr<StatementCache> cache = {});

// The first row of "SELECT * FROM <from>" (values bound) of the table
// named tableName, opened for update.
std::unique_ptr<RowUpdate> openRowUpdate(sqlite3* db, const QString& tableName, const SqlText& from,
                                         const QVariantList& values, const TableDef& table);

} // namespace vok::sqlite
