#include "core/QueryField.h"

#include "db/DbError.h"

#include <algorithm>
#include <limits>

namespace vok {

namespace {

// The comparisons a query offers: = < > <> <= >=.
bool isComparisonOperator(QStringView text)
{
    static const QStringView kOperators[] = {u"=", u"<", u">", u"<>", u"<=", u">="};
    return std::find(std::begin(kOperators), std::end(kOperators), text) != std::end(kOperators);
}

} // namespace

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
    if (!isPlainIdentifier(column))
        throw DbError(DbError::Kind::BadInput,
                      QStringLiteral("“%1”不是有效的列名。").arg(column.toString()));
    if (!isComparisonOperator(op))
        throw DbError(DbError::Kind::BadInput,
                      QStringLiteral("“%1”不是有效的比较运算符。").arg(op));
    // The operator is one of a fixed few and the column a plain name of the
    // table's description: only the value varies, and it is bound.
    QString marker = QStringLiteral("?");
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
        marker = dateParameter(engine);
        break;
    }
    case QueryForm::Text:
        bound = value;
        break;
    }
    return {table, quoteIdentifier(column, engine) + op + marker, {bound}};
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
