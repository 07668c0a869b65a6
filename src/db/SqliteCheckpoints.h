#pragma once

// The embedded engine's checkpoints: after every commit the write-ahead
// log is copied into the database file, so that the file alone holds every
// committed change; those a reader's snapshot held back are tried again on
// a timer, on closing and on the way out. Used by SqliteConnection only.

struct sqlite3;

namespace vok::sqlite {

// Called by SQLite after each commit in place of its own automatic
// checkpoint, which gives up silently when a reader is in the way.
int afterCommit(void*, sqlite3* db, const char*, int);

// A writing connection closes: its checkpoint is no longer retried but,
// outside a transaction, done now, waiting a while for a reader.
void checkpointOnClosing(sqlite3* db);

} // namespace vok::sqlite
