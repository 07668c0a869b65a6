#include "core/QueryField.h"

#include "db/DbError.h"
#include "db/SqlText.h"

#include <algorithm>
#include <limits>

namespace vok {

namespace {

// The comparisons a query offers, by their operator's text and SQL.
struct ComparisonText
{
    Comparison comparison;
    QStringView text;
    SqlLiteral sql;
};
constexpr ComparisonText kComparisons[] = {
    {Comparison::Equal, u"=", "="},         {Comparison::NotEqual, u"<>", "<>"},
    {Comparison::Less, u"<", "<"},          {Comparison::Greater, u">", ">"},
    {Comparison::LessOrEqual, u"<=", "<="}, {Comparison::GreaterOrEqual, u">=", ">="},
};

} // namespace

std::optional<Comparison> comparisonOf(QStringView op)
{
    for (const ComparisonText& c : kComparisons)
        if (c.text == op)
            return c.comparison;
    return std::nullopt;
}

int leadingInteger(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' ||
                               text[i] == u'\r' || text[i] == u'\v' || text[i] == u'\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 value = 0;
    constexpr qint64 limit = qint64(std::numeric_limits<int>::max()) + 1;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > limit)
            value = limit;
    }
    if (negative)
        return int(-value);
    return int(std::min<qint64>(value, std::numeric_limits<int>::max()));
}

TableRows compareColumn(const QString& table, QStringView column, QueryForm form, const QString& op,
                        const QString& value, Engine engine)
{
    const auto comparison = comparisonOf(op);
    if (!comparison)
        throw DbError(DbError::Kind::BadInput,
                      QStringLiteral("“%1”不是有效的比较运算符。").arg(op));
    return compareColumn(table, column, form, *comparison, value, engine);
}

TableRows compareColumn(const QString& table, QStringView column, QueryForm form, Comparison op,
                        const QString& value, Engine engine)
{
    if (!isPlainIdentifier(column))
        throw DbError(DbError::Kind::BadInput,
                      QStringLiteral("“%1”不是有效的列名。").arg(column.toString()));
    // The column is a plain name of the table's description and the
    // operator one of a fixed few: only the value varies, and it is bound.
    SqlText marker("?");
    QVariant bound;
    switch (form) {
    case QueryForm::Number:
        bound = leadingInteger(value);
        break;
    case QueryForm::Date: {
        const auto dt = parseDateTime(value);
        if (!dt)
            throw DbError(DbError::Kind::BadInput,
                          QStringLiteral("“%1”不是有效的日期。").arg(value));
        bound = dt->normalizedFull();
        marker = SqlText::dateMarker(engine);
        break;
    }
    case QueryForm::Text:
        bound = value;
        break;
    }
    const auto sql = std::find_if(std::begin(kComparisons), std::end(kComparisons),
                                  [&](const ComparisonText& c) { return c.comparison == op; });
    return {table, SqlText::name(column, engine) + SqlText(sql->sql) + marker, {bound}};
}

std::optional<TableRows> composeQuery(const QString& table, std::span<const QueryField> fields,
                                      const QString& field, const QString& op, const QString& value,
                                      Engine engine)
{
    for (const QueryField& entry : fields)
        if (entry.text == field)
            return compareColumn(table, entry.column, entry.form, op, value, engine);
    return std::nullopt;
}

} // namespace vok
