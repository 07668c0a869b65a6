#pragma once

#include "db/Dialect.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <initializer_list>

namespace vok {

// The program's own SQL text, fixed when the program is built: only a
// string literal converts to it.
class SqlLiteral
{
public:
    consteval SqlLiteral(const char* text) : m_text(text) {}
    const char* text() const { return m_text; }

private:
    const char* m_text;
};

// An SQL text composed of the program's literal text, plain names, the
// program's integers and other such texts. No value and no text from
// outside can enter it: values are bound to the ? it holds.
class SqlText
{
public:
    SqlText() = default;
    SqlText(SqlLiteral text);

    // A table, column, index or trigger name, as the engine writes it when
    // one is given. Anything but a plain identifier (a letter or '_', then
    // letters, digits, '_') is a fault of the program: DbError BadInput.
    static SqlText name(QStringView name);
    static SqlText name(QStringView name, Engine engine);
    // A name read from a database file, which may be anything: always in
    // double quotes, its own double quotes doubled.
    static SqlText quotedName(QStringView name);
    // Plain names with commas between them ("a,b,c"), as name() checks them.
    static SqlText names(const QStringList& names);
    // An integer the program owns.
    static SqlText number(qint64 n);
    // A constant text of the program as an SQL string, its quotes doubled.
    static SqlText quoted(SqlLiteral text);
    // n markers "?,?,…" (none for 0).
    static SqlText markers(qsizetype n);
    // The marker of a date value (its normalised text bound to it); the
    // server is told it is a date.
    static SqlText dateMarker(Engine engine);
    // The parts with the separator between them.
    static SqlText joined(const QList<SqlText>& parts, SqlLiteral separator);
    // The format with %1 … %9 replaced by the pieces; a % before anything
    // else stays. A marker without its piece is a fault of the program.
    static SqlText compose(SqlLiteral format, std::initializer_list<SqlText> pieces);

    SqlText& operator+=(const SqlText& other);
    friend SqlText operator+(SqlText a, const SqlText& b) { return a += b; }

    bool isEmpty() const { return m_text.isEmpty(); }
    const QString& toString() const { return m_text; }

private:
    QString m_text;
};

} // namespace vok
