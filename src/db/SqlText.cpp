#include "db/SqlText.h"

#include "db/DbError.h"

namespace vok {

SqlText::SqlText(SqlLiteral text) : m_text(QString::fromUtf8(text.text())) {}

SqlText SqlText::name(QStringView name)
{
    if (!isPlainIdentifier(name))
        throw DbError(DbError::Kind::BadInput,
                      QStringLiteral("“") + name.toString() + QStringLiteral("”不是有效的名称。"));
    SqlText out;
    out.m_text = name.toString();
    return out;
}

SqlText SqlText::name(QStringView name, Engine engine)
{
    SqlText out = SqlText::name(name);
    out.m_text = quoteIdentifier(name, engine);
    return out;
}

SqlText SqlText::quotedName(QStringView name)
{
    SqlText out;
    out.m_text = QLatin1Char('"') +
                 name.toString().replace(QLatin1Char('"'), QLatin1String("\"\"")) +
                 QLatin1Char('"');
    return out;
}

SqlText SqlText::names(const QStringList& names)
{
    QList<SqlText> parts;
    parts.reserve(names.size());
    for (const QString& n : names)
        parts << name(n);
    return joined(parts, ",");
}

SqlText SqlText::number(qint64 n)
{
    SqlText out;
    out.m_text = QString::number(n);
    return out;
}

SqlText SqlText::quoted(SqlLiteral text)
{
    SqlText out;
    out.m_text = QLatin1Char('\'') +
                 QString::fromUtf8(text.text()).replace(QLatin1Char('\''), QLatin1String("''")) +
                 QLatin1Char('\'');
    return out;
}

SqlText SqlText::markers(qsizetype n)
{
    SqlText out;
    for (qsizetype i = 0; i < n; ++i)
        out.m_text += i == 0 ? QLatin1String("?") : QLatin1String(",?");
    return out;
}

SqlText SqlText::dateMarker(Engine engine)
{
    return engine == Engine::Postgres ? SqlText("CAST(? AS TIMESTAMP)") : SqlText("?");
}

SqlText SqlText::joined(const QList<SqlText>& parts, SqlLiteral separator)
{
    SqlText out;
    const QString between = QString::fromUtf8(separator.text());
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0)
            out.m_text += between;
        out.m_text += parts[i].m_text;
    }
    return out;
}

SqlText SqlText::compose(SqlLiteral format, std::initializer_list<SqlText> pieces)
{
    const QString f = QString::fromUtf8(format.text());
    SqlText out;
    out.m_text.reserve(f.size());
    for (qsizetype i = 0; i < f.size(); ++i) {
        const QChar c = f[i];
        if (c == QLatin1Char('%') && i + 1 < f.size() && f[i + 1] >= QLatin1Char('1') &&
            f[i + 1] <= QLatin1Char('9')) {
            const size_t piece = size_t(f[++i].unicode() - '1');
            if (piece >= pieces.size())
                throw DbError(DbError::Kind::BadInput, QStringLiteral("SQL 文本缺少第 ") +
                                                           QString::number(piece + 1) +
                                                           QStringLiteral(" 部分。"));
            out.m_text += pieces.begin()[piece].m_text;
        } else {
            out.m_text += c;
        }
    }
    return out;
}

SqlText& SqlText::operator+=(const SqlText& other)
{
    m_text += other.m_text;
    return *this;
}

} // namespace vok
