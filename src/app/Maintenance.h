#pragma once

#include "db/Connection.h"

#include <functional>

class QWidget;

namespace vok {

class COperationLog;
struct CurrentUser;

// Backup and restore of the department databases, the main window's
// "备份数据库" and "还原数据库". Questions and reports go through the message
// service; copying shows a progress dialog titled "文件拷贝".
namespace Maintenance {

// Writes "备份数据库" into the log, then takes a generation of every
// department database that exists (BackupGenerations::take), asking
// before creating the folder and once before replacing the copies of the
// last backup in it. Ends with a word of what was written where, or why
// nothing was: a failed or cancelled backup changes no copy and no
// generation.
void backupDatabases(COperationLog& log, QWidget* parent);

// Refused to class 3. Lists the generations for the user to choose one
// (the newest that verifies at first); a damaged one (its record, a
// copy's SHA-256 read now, or a copy's own check) restores nothing. Asks
// once, then puts each copy into its department database, keeping the
// data as it stood beside it in the data folder, then opens the current user's
// department again, hands the new connection to replace and writes
// "还原数据库" through it. Should that open fail, the data kept is put back
// and the old connection stays in use.
void restoreDatabases(const CurrentUser& user, COperationLog& log,
                      const std::function<void(ConnectionPtr)>& replace, QWidget* parent);

// Where the data a restore replaced is kept: vok1-还原前.db … in the data
// folder.
QString keptCopyFile(const QString& dsn);

} // namespace Maintenance

} // namespace vok
