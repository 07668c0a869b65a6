#include "db/DbError.h"

namespace vok {

namespace {

QString joined(const QString& first, const QString& second)
{
    if (first.isEmpty())
        return second;
    return second.isEmpty() ? first : first + QLatin1Char('\n') + second;
}

} // namespace

DbError::DbError(Kind kind, QString text, QString detail)
    : m_kind(kind), m_userText(std::move(text)), m_detail(std::move(detail)),
      m_text(joined(m_userText, m_detail)), m_what(m_text.toUtf8())
{
}

DbError::DbError(Failure failure, const QString& engineText, const QString& file)
    : DbError(failure == Failure::ConnectionLost ? Kind::ConnectionLost : Kind::Engine,
              failureText(failure, file), engineText)
{
    m_failure = failure;
    // An engine's own failure has no text of ours: its text is the user's.
    if (m_userText.isEmpty())
        m_userText = engineText;
}

DbError DbError::prefixed(const QString& prefix) const
{
    DbError e = *this;
    e.m_userText = prefix + m_userText;
    e.m_text = prefix + m_text;
    e.m_what = e.m_text.toUtf8();
    return e;
}

QString failureText(DbError::Failure failure, const QString& file)
{
    using F = DbError::Failure;
    const QString name =
        file.isEmpty() ? QStringLiteral("数据库文件") : QStringLiteral("数据库文件“%1”").arg(file);
    switch (failure) {
    case F::Other:
        return {};
    case F::Busy:
        return QStringLiteral("数据库正被另一个程序或另一位用户使用，等待超时，操作没有完成。"
                              "请稍后再试一次。");
    case F::DiskFull:
        return QStringLiteral("磁盘已满，无法写入数据库，操作没有完成。请腾出磁盘空间后再试。");
    case F::ReadOnly:
        return QStringLiteral("%1或它所在的文件夹是只读的，无法保存更改。"
                              "请让管理员给予写入权限。")
            .arg(name);
    case F::CannotOpen:
        return QStringLiteral("无法打开%1。请检查文件和它所在的文件夹是否存在、"
                              "是否有权限访问。")
            .arg(name);
    case F::Damaged:
        return QStringLiteral("%1已损坏，不能使用。请用备份恢复数据库。").arg(name);
    case F::Unique:
        return QStringLiteral("要保存的记录与已有的记录重复，数据库拒绝保存。请检查后重新输入。");
    case F::Unreachable:
        return QStringLiteral("无法连接数据库服务器。请检查网络和服务器是否已开启，然后再试。");
    case F::ConnectionLost:
        return QStringLiteral("与数据库服务器的连接已断开，操作没有完成，未保存任何更改。");
    case F::BadValue:
        return QStringLiteral("数据库不接受输入的值（日期、时间或数字的写法不对），操作没有完成。"
                              "请检查输入的值后再试。");
    case F::NoCurrentRecord:
        // The message ADO gives for a row update whose SELECT found no row.
        return QStringLiteral("BOF 或 EOF 中有一个是“真”，或者当前的记录已被删除，"
                              "所需的操作要求一个当前的记录。");
    case F::RowChanged:
        return QStringLiteral("无法为更新定位行。一些值可能已在最后一次读取后被更改。");
    case F::LoginRefused:
        return QStringLiteral("数据库服务器拒绝登录。请让管理员检查数据源中的数据库帐户和密码。");
    }
    return {};
}

DbError noCurrentRecordError()
{
    return DbError(DbError::Failure::NoCurrentRecord, QString());
}

DbError rowChangedError()
{
    return DbError(DbError::Failure::RowChanged, QString());
}

} // namespace vok
