#include "core/OperationLog.h"

#include "core/Clock.h"
#include "core/ErrorReport.h"
#include "db/DbError.h"
#include "db/SqlFormat.h"

namespace vok {

void COperationLog::attach(ConnectionPtr connection, const QString& userName)
{
    m_connection = std::move(connection);
    m_userName = userName;
}

bool COperationLog::write(const QString& text)
{
    const QDateTime t = Clock::now();
    const QDate d = t.date();
    const QTime tm = t.time();
    try {
        if (!m_connection)
            throw DbError(DbError::kFail, QStringLiteral("数据库连接已关闭，不能执行此操作。"));
        m_connection->execute(sqlFormat(
            u"INSERT INTO HOWDO (do_user,do_what,do_date) VALUES('%s','%s','%d-%d-%d %d:%d:%d')",
            {SqlArg::text(m_userName), SqlArg::text(text), d.year(), d.month(), d.day(), tm.hour(),
             tm.minute(), tm.second()}));
    } catch (const DbError& e) {
        reportDbError(e);
        return false;
    }
    return true;
}

} // namespace vok
