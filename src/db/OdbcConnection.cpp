#include "db/OdbcConnection.h"

#include "db/DbError.h"

namespace vok {

ConnectionPtr openOdbcConnection(const ConnectionString& cs)
{
    throw DbError(DbError::kFail,
                  QStringLiteral("数据源“%1”由 ODBC 定义，但本程序尚不能通过 ODBC 连接数据库。")
                      .arg(cs.dsn));
}

} // namespace vok
