#include "db/Dialect.h"

#include "db/DbError.h"
#include "db/SqlText.h"

#include <QDate>
#include <QTime>

namespace vok {

namespace {

bool isIdentStart(QChar c)
{
    return c == QLatin1Char('_') || (c.unicode() < 128 && c.isLetter());
}

bool isIdentChar(QChar c)
{
    return isIdentStart(c) || (c.unicode() < 128 && c.isDigit());
}

// Reads an unsigned decimal number of 1 to maxDigits digits at pos.
std::optional<int> readNumber(QStringView s, qsizetype& pos, int maxDigits)
{
    int value = 0;
    int digits = 0;
    while (pos < s.size() && s[pos].unicode() >= '0' && s[pos].unicode() <= '9') {
        if (++digits > maxDigits)
            return std::nullopt;
        value = value * 10 + (s[pos].unicode() - '0');
        ++pos;
    }
    if (digits == 0)
        return std::nullopt;
    return value;
}

} // namespace

QString DateTimeValue::normalized() const
{
    if (!hasTime)
        return QString::asprintf("%04d-%02d-%02d", year, month, day);
    return normalizedFull();
}

QString DateTimeValue::normalizedFull() const
{
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute,
                             second);
}

std::optional<DateTimeValue> parseDateTime(QStringView text)
{
    const QStringView s = text.trimmed();
    qsizetype pos = 0;
    DateTimeValue v;
    auto y = readNumber(s, pos, 4);
    if (!y || pos >= s.size())
        return std::nullopt;
    const QChar sep = s[pos];
    if (sep != QLatin1Char('-') && sep != QLatin1Char('/'))
        return std::nullopt;
    ++pos;
    auto m = readNumber(s, pos, 2);
    if (!m || pos >= s.size() || s[pos] != sep)
        return std::nullopt;
    ++pos;
    auto d = readNumber(s, pos, 2);
    if (!d)
        return std::nullopt;
    v.year = *y;
    v.month = *m;
    v.day = *d;
    if (pos < s.size()) {
        if (s[pos] != QLatin1Char(' '))
            return std::nullopt;
        while (pos < s.size() && s[pos] == QLatin1Char(' '))
            ++pos;
        auto h = readNumber(s, pos, 2);
        if (!h || pos >= s.size() || s[pos] != QLatin1Char(':'))
            return std::nullopt;
        ++pos;
        auto mi = readNumber(s, pos, 2);
        if (!mi)
            return std::nullopt;
        int sec = 0;
        if (pos < s.size()) {
            if (s[pos] != QLatin1Char(':'))
                return std::nullopt;
            ++pos;
            auto se = readNumber(s, pos, 2);
            if (!se || pos != s.size())
                return std::nullopt;
            sec = *se;
        }
        v.hour = *h;
        v.minute = *mi;
        v.second = sec;
        v.hasTime = true;
    }
    if (v.year < 100 || !QDate(v.year, v.month, v.day).isValid() ||
        !QTime(v.hour, v.minute, v.second).isValid())
        return std::nullopt;
    return v;
}

bool isPlainIdentifier(QStringView name)
{
    if (name.isEmpty() || !isIdentStart(name[0]))
        return false;
    for (QChar c : name)
        if (!isIdentChar(c))
            return false;
    return true;
}

QString quoteIdentifier(QStringView name, Engine engine)
{
    if (engine == Engine::Postgres && name.compare(QLatin1String("user"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("\"user\"");
    return name.toString();
}

QString singleStatement(const QString& sql)
{
    const auto refuse = [] {
        return DbError(DbError::Kind::Engine, QStringLiteral("一次只能执行一条 SQL 语句。"));
    };
    const qsizetype n = sql.size();
    qsizetype end = -1; // position of the first ';' outside quotes
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            const qsizetype j = sql.indexOf(c, i + 1);
            if (j < 0)
                break; // unterminated: the server reports it
            i = j;
        } else if (c == QLatin1Char('-') && i + 1 < n && sql[i + 1] == QLatin1Char('-')) {
            const qsizetype j = sql.indexOf(QLatin1Char('\n'), i);
            if (j < 0)
                break;
            i = j;
        } else if (c == QLatin1Char('/') && i + 1 < n && sql[i + 1] == QLatin1Char('*')) {
            const qsizetype j = sql.indexOf(QLatin1String("*/"), i + 2);
            const qsizetype nested = sql.indexOf(QLatin1String("/*"), i + 2);
            if (nested >= 0 && (j < 0 || nested < j))
                throw refuse();
            if (j < 0)
                break;
            i = j + 1;
        } else if (c == QLatin1Char(';')) {
            if (end < 0)
                end = i;
        } else if (end >= 0 && !c.isSpace()) {
            throw refuse();
        }
    }
    return end < 0 ? sql : sql.left(end);
}

QString dateParameter(Engine engine)
{
    return SqlText::dateMarker(engine).toString();
}

} // namespace vok
