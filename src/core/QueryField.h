#pragma once

#include "db/Connection.h"

#include <QString>
#include <QStringView>
#include <optional>
#include <span>

namespace vok {

// How a query field compares its value: as text, as a date, or as the
// value read as an integer.
enum class QueryForm
{
    Text,
    Date,
    Number
};

// One entry of a table's query fields: the field text as the field combo
// shows it (with its trailing "c" or "d"), the column it names and how its
// value is compared.
struct QueryField
{
    QStringView text;
    QStringView column;
    QueryForm form;
};

// How a query compares a column with its value.
enum class Comparison
{
    Equal,
    NotEqual,
    Less,
    Greater,
    LessOrEqual,
    GreaterOrEqual
};

// The comparison an operator text names (= <> < > <= >=); nothing for
// any other text.
std::optional<Comparison> comparisonOf(QStringView op);

// The value of a number query: leading blanks, an optional sign and the
// leading decimal digits; 0 when there are none; a fraction is dropped
// (12.5 gives 12). Out-of-range values stop at the int limits.
int leadingInteger(QStringView text);

// The condition "column op ?" for an engine with its value bound: a text
// as it is, a date as a date value (DbError when it is none), a number as
// leadingInteger() reads it. The column must be a plain name, else
// DbError is thrown.
TableRows compareColumn(const QString& table, QStringView column, QueryForm form, Comparison op,
                        const QString& value, Engine engine);
// The same with the operator as the query's operator box gives it; an
// operator other than = < > <> <= >= is thrown as DbError.
TableRows compareColumn(const QString& table, QStringView column, QueryForm form, const QString& op,
                        const QString& value, Engine engine);

// The rows of a query: the entry whose text equals field exactly,
// compared with the operator and the value. Nothing when no entry
// matches. Throws DbError as compareColumn() does.
std::optional<TableRows> composeQuery(const QString& table, std::span<const QueryField> fields,
                                      const QString& field, const QString& op, const QString& value,
                                      Engine engine);

} // namespace vok
