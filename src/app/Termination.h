#pragma once

namespace vok {

// Ends the program on SIGTERM, SIGHUP and SIGINT as before, but first
// puts every committed change still in a database's write-ahead log into
// the database file (a reader had held it back). The handler itself only
// wakes the event loop, which does the work.
void installTerminationHandler();

} // namespace vok
