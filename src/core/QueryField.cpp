#include "core/QueryField.h"

#include "db/SqlFormat.h"

#include <limits>

namespace vok {

QueryForm queryFormOf(QStringView format)
{
    if (format.contains(u"%d"))
        return QueryForm::Number;
    if (format.contains(u"#%s#"))
        return QueryForm::Date;
    return QueryForm::Text;
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

QString composeQuery(std::span<const QueryField> table, const QString& field, const QString& op,
                     const QString& value)
{
    for (const QueryField& entry : table) {
        if (entry.text != field)
            continue;
        const SqlArg column = SqlArg::name(entry.column.toString());
        const SqlArg comparison = SqlArg::op(op);
        switch (queryFormOf(entry.format)) {
        case QueryForm::Number:
            return sqlFormat(entry.format, {column, comparison, leadingInteger(value)});
        case QueryForm::Date:
            return sqlFormat(entry.format, {column, comparison, SqlArg::date(value)});
        case QueryForm::Text:
            return sqlFormat(entry.format, {column, comparison, SqlArg::text(value)});
        }
    }
    return {};
}

} // namespace vok
