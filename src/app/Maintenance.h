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

// Writes "备份数据库" into the log, then copies every department database
// that exists into the backup folder as vok1.db … vok5.db, asking before
// creating the folder and before replacing a copy. A copy that fails or is
// cancelled leaves the previous one in place; the user is told which.
void backupDatabases(COperationLog& log, QWidget* parent);

// Refused to class 3. Puts every sound copy of the backup folder (the
// user agreeing) into its department database, keeping the data as it
// stood beside it in the data folder, then opens the current user's
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
