#include "core/OperationLog.h"

#include "core/Clock.h"
#include "core/ErrorReport.h"
#include "db/DbError.h"
#include "db/Schema.h"

namespace vok {

void COperationLog::attach(ConnectionPtr connection, const QString& userName)
{
    m_connection = std::move(connection);
    m_userName = userName;
}

bool COperationLog::write(const QString& text)
{
    const QDateTime t = Clock::now();
    try {
        if (!m_connection)
            throw DbError(DbError::kFail, QStringLiteral("数据库连接已关闭，不能执行此操作。"));
        m_connection->append(schema::Howdo.name, schema::Howdo.columnNames(),
                             {m_userName, text, t.toString(u"yyyy-MM-dd HH:mm:ss")});
    } catch (const DbError& e) {
        reportDbError(e);
        return false;
    }
    return true;
}

} // namespace vok
