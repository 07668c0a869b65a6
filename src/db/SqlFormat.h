#pragma once

#include <QString>
#include <initializer_list>

namespace vok {

// One value for sqlFormat(). Typed input reaches an SQL text only through
// these, so that no value can change the statement's shape:
//  - text(): the text with its single quotes doubled, for a '%s' slot
//    between quotes;
//  - date(): only a text that parses as a date, for a #%s# slot;
//  - op(): only one of = < > <> <= >=;
//  - name(): only a plain identifier (a column name);
//  - an int, for a %d slot.
// date() and op() throw DbError for anything else.
class SqlArg
{
public:
    SqlArg(int value); // NOLINT: an integer is always safe
    static SqlArg text(const QString& value);
    static SqlArg date(const QString& value);
    static SqlArg op(const QString& value);
    static SqlArg name(const QString& value);

    const QString& rendered() const { return m_rendered; }
    bool isInteger() const { return m_integer; }

private:
    SqlArg(QString rendered, bool integer) : m_rendered(std::move(rendered)), m_integer(integer) {}
    QString m_rendered;
    bool m_integer = false;
};

// Fills a printf-style SQL text: each %s takes the next non-integer
// argument, each %d the next integer argument; %% is a percent sign.
QString sqlFormat(QStringView format, std::initializer_list<SqlArg> args);

// True when text is one of the comparison operators = < > <> <= >=.
bool isComparisonOperator(QStringView text);

} // namespace vok
