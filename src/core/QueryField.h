#pragma once

#include <QString>
#include <QStringView>
#include <span>

namespace vok {

// One entry of a form's query field table: the field text as the field
// combo shows it (with its trailing "c" or "d"), the column it names and
// the full SELECT format of its condition, one of
//   "... WHERE %s%s'%s'"  text: the value between quotes,
//   "... WHERE %s%s#%s#"  date: the value as a date literal,
//   "... WHERE %s%s%d"    number: the value read as an integer.
struct QueryField
{
    QStringView text;
    QStringView column;
    QStringView format;
};

// The three condition forms.
enum class QueryForm
{
    Text,
    Date,
    Number
};
QueryForm queryFormOf(QStringView format);

// The value of a number query: leading blanks, an optional sign and the
// leading decimal digits; 0 when there are none; a fraction is dropped
// (12.5 gives 12). Out-of-range values stop at the int limits.
int leadingInteger(QStringView text);

// Composes the SELECT text of a query: the entry whose text equals field
// exactly, filled with its column, the operator and the value. Returns an
// empty text when no entry matches. The operator must be a comparison and
// a date value must be a date, else DbError is thrown; a text value is
// quoted safely, so it is always plain text.
QString composeQuery(std::span<const QueryField> table, const QString& field, const QString& op,
                     const QString& value);

} // namespace vok
