#include "db/SqlFormat.h"

#include "db/DbError.h"
#include "db/Dialect.h"

namespace vok {

SqlArg::SqlArg(int value) : m_rendered(QString::number(value)), m_integer(true) {}

SqlArg SqlArg::text(const QString& value)
{
    QString t = value;
    t.replace(QLatin1Char('\''), QLatin1String("''"));
    return SqlArg(t, false);
}

SqlArg SqlArg::date(const QString& value)
{
    const auto dt = parseDateTime(value);
    if (!dt)
        throw DbError(DbError::kBadValue, QStringLiteral("“%1”不是有效的日期。").arg(value));
    return SqlArg(dt->normalized(), false);
}

SqlArg SqlArg::op(const QString& value)
{
    if (!isComparisonOperator(value))
        throw DbError(DbError::kBadValue, QStringLiteral("“%1”不是有效的比较运算符。").arg(value));
    return SqlArg(value, false);
}

SqlArg SqlArg::name(const QString& value)
{
    if (!isPlainIdentifier(value))
        throw DbError(DbError::kBadValue, QStringLiteral("“%1”不是有效的列名。").arg(value));
    return SqlArg(value, false);
}

bool isComparisonOperator(QStringView text)
{
    static const char* const ops[] = {"=", "<", ">", "<>", "<=", ">="};
    for (const char* op : ops)
        if (text == QLatin1String(op))
            return true;
    return false;
}

QString sqlFormat(QStringView format, std::initializer_list<SqlArg> args)
{
    QString out;
    out.reserve(format.size() + 32);
    auto it = args.begin();
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c != QLatin1Char('%') || i + 1 >= format.size()) {
            out += c;
            continue;
        }
        const QChar spec = format[++i];
        if (spec == QLatin1Char('%')) {
            out += spec;
            continue;
        }
        if ((spec != QLatin1Char('s') && spec != QLatin1Char('d')) || it == args.end() ||
            it->isInteger() != (spec == QLatin1Char('d')))
            qFatal("sqlFormat: format and arguments do not match");
        out += it->rendered();
        ++it;
    }
    if (it != args.end())
        qFatal("sqlFormat: more arguments than slots");
    return out;
}

} // namespace vok
