#include "db/DbError.h"

namespace vok {

DbError::DbError(quint32 code, QString text)
    : m_code(code), m_text(std::move(text)), m_engineText(m_text),
      m_what(comErrorText(m_code, m_text).toUtf8())
{
}

namespace {

QString failureLines(DbError::Failure failure, const QString& engineText, const QString& file)
{
    const QString first = failureText(failure, file);
    if (first.isEmpty())
        return engineText;
    return engineText.isEmpty() ? first : first + QLatin1Char('\n') + engineText;
}

} // namespace

DbError::DbError(Failure failure, const QString& engineText, const QString& file)
    : DbError(kFail, failureLines(failure, engineText, file))
{
    m_failure = failure;
    m_engineText = engineText;
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
    case F::LoginRefused:
        return QStringLiteral("数据库服务器拒绝登录。请让管理员检查数据源中的数据库帐户和密码。");
    }
    return {};
}

QString comErrorText(quint32 code, const QString& text)
{
    QString t = text;
    if (t.endsWith(QLatin1String("\r\n")))
        t.chop(2);
    else if (t.endsWith(QLatin1Char('\n')))
        t.chop(1);
    if (!t.isEmpty())
        return t;
    if (code > 0x80040200u && code < 0x80050000u)
        return QString::asprintf("IDispatch error #%d", int(code - 0x80040200u));
    return QString::asprintf("Unknown error 0x%08X", code);
}

DbError noCurrentRecordError()
{
    // The message ADO gives for a row update whose SELECT found no row.
    return DbError(0x800A0BCDu, QStringLiteral("BOF 或 EOF 中有一个是“真”，或者当前的记录已被删除，"
                                               "所需的操作要求一个当前的记录。"));
}

DbError rowChangedError()
{
    return DbError(DbError::kConcurrency,
                   QStringLiteral("无法为更新定位行。一些值可能已在最后一次读取后被更改。"));
}

} // namespace vok
