#pragma once

#include <QString>

namespace vok {

// The folder that holds the embedded department databases: --data-dir,
// else $VOK_DATA_DIR, else $XDG_DATA_HOME/vok (~/.local/share/vok).
namespace DataFolder {
QString path();
// Set by --data-dir and by tests; an empty text goes back to the default.
void setPath(const QString& path);
// The embedded database file of a data source name (VOK1 -> vok1.db).
QString databaseFile(const QString& dsn);
} // namespace DataFolder

} // namespace vok
