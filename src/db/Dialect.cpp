#include "db/Dialect.h"

#include "db/DbError.h"

#include <QDate>
#include <QRegularExpression>
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

std::optional<SelectStarFrom> matchSelectStarFrom(const QString& translated)
{
    static const QRegularExpression re(
        QStringLiteral("^\\s*SELECT\\s+\\*\\s+FROM\\s+(\"user\"|[A-Za-z_][A-Za-z0-9_]*)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(translated);
    if (!m.hasMatch())
        return std::nullopt;
    return SelectStarFrom{m.captured(1), m.capturedStart(1)};
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
        return DbError(DbError::kFail, QStringLiteral("一次只能执行一条 SQL 语句。"));
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

QString blankQuoted(const QString& sql)
{
    QString out = sql;
    const qsizetype n = sql.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            const qsizetype j = sql.indexOf(c, i + 1);
            if (j < 0)
                return {};
            for (qsizetype k = i + 1; k < j; ++k)
                out[k] = QLatin1Char(' ');
            i = j;
        } else if ((c == QLatin1Char('-') || c == QLatin1Char('/')) && i + 1 < n &&
                   sql[i + 1] == (c == QLatin1Char('-') ? QLatin1Char('-') : QLatin1Char('*'))) {
            return {};
        }
    }
    return out;
}

QString plainSelectTable(const QString& translated)
{
    static const QRegularExpression shape(
        QStringLiteral("^\\s*SELECT\\s+\\*\\s+FROM\\s+(\"[^\"]*\"|[A-Za-z_][A-Za-z0-9_]*)"
                       "(?:\\s+WHERE\\b.*)?\\s*$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression ownClauses(
        QStringLiteral("\\b(ORDER|GROUP|HAVING|WINDOW|LIMIT|OFFSET|FETCH|UNION|INTERSECT|"
                       "EXCEPT|FOR)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    const QString blanked = blankQuoted(translated);
    if (blanked.isEmpty())
        return {};
    const auto m = shape.match(blanked);
    if (!m.hasMatch() || blanked.indexOf(ownClauses, m.capturedEnd(1)) >= 0)
        return {};
    const QString table = translated.mid(m.capturedStart(1), m.capturedLength(1));
    if (table.startsWith(QLatin1Char('"')) && table != quoteIdentifier(u"user", Engine::Postgres))
        return {};
    return table;
}

QString translateSql(const QString& sql, Engine engine)
{
    QString out;
    out.reserve(sql.size() + 16);
    const qsizetype n = sql.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // Quoted text or identifier: copied as it stands. A doubled
            // quote inside simply closes and reopens.
            qsizetype j = sql.indexOf(c, i + 1);
            if (j < 0)
                j = n - 1;
            out += QStringView(sql).mid(i, j - i + 1);
            i = j + 1;
        } else if (c == QLatin1Char('#')) {
            const qsizetype j = sql.indexOf(QLatin1Char('#'), i + 1);
            if (j < 0)
                throw DbError(DbError::kBadValue,
                              QStringLiteral("日期值缺少结束的 # 号：%1").arg(sql.mid(i)));
            const QStringView inner = QStringView(sql).mid(i + 1, j - i - 1);
            const auto dt = parseDateTime(inner);
            if (!dt)
                throw DbError(DbError::kBadValue,
                              QStringLiteral("“%1”不是有效的日期。").arg(inner.toString()));
            if (engine == Engine::Postgres)
                out += QStringLiteral("TIMESTAMP '") + dt->normalizedFull() + QLatin1Char('\'');
            else
                out += QLatin1Char('\'') + dt->normalizedFull() + QLatin1Char('\'');
            i = j + 1;
        } else if (isIdentStart(c) && (i == 0 || !isIdentChar(sql[i - 1]))) {
            qsizetype j = i;
            while (j < n && isIdentChar(sql[j]))
                ++j;
            const QStringView word = QStringView(sql).mid(i, j - i);
            if (word.compare(QLatin1String("DELETE"), Qt::CaseInsensitive) == 0) {
                // "DELETE * FROM" -> "DELETE FROM"
                qsizetype k = j;
                while (k < n && sql[k].isSpace())
                    ++k;
                if (k < n && sql[k] == QLatin1Char('*')) {
                    qsizetype f = k + 1;
                    while (f < n && sql[f].isSpace())
                        ++f;
                    if (QStringView(sql).mid(f, 4).compare(QLatin1String("FROM"),
                                                           Qt::CaseInsensitive) == 0 &&
                        (f + 4 == n || !isIdentChar(sql[f + 4]))) {
                        out += word;
                        out += QLatin1Char(' ');
                        i = f;
                        continue;
                    }
                }
                out += word;
            } else {
                // An unquoted user is the session's login name on PostgreSQL.
                out += quoteIdentifier(word, engine);
            }
            i = j;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

} // namespace vok
