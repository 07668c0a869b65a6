#include "core/OperationLog.h"

#include "core/Clock.h"
#include "db/DbError.h"
#include "db/Schema.h"

namespace vok {

void COperationLog::attach(ConnectionPtr connection, const QString& userName)
{
    m_connection = std::move(connection);
    m_userName = userName;
}

void COperationLog::write(const QString& text)
{
    const QDateTime t = Clock::now();
    if (!m_connection)
        throw DbError(DbError::Kind::Engine, QStringLiteral("数据库连接已关闭，不能执行此操作。"));
    m_connection->append(schema::Howdo.name, schema::Howdo.columnNames(),
                         {m_userName, text, t.toString(u"yyyy-MM-dd HH:mm:ss")});
}

} // namespace vok
