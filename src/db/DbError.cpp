#include "db/DbError.h"

namespace vok {

DbError::DbError(quint32 code, QString text)
    : m_code(code), m_text(std::move(text)), m_what(comErrorText(m_code, m_text).toUtf8())
{
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
