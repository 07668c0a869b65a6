#pragma once

#include <QString>
#include <optional>

namespace vok {

// The engines a connection can stand on. The forms write one SQL dialect
// (date literals between '#', "DELETE * FROM", a table named user); the
// connection translates each text for its engine before running it.
enum class Engine
{
    Sqlite,
    Postgres
};

// A date or date-and-time value as the program writes it: unpadded fields
// are accepted ("2004-1-5 9:3:7").
struct DateTimeValue
{
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0;
    bool hasTime = false;

    // "YYYY-MM-DD" for a date alone, else "YYYY-MM-DD HH:MM:SS".
    QString normalized() const;
    // Always "YYYY-MM-DD HH:MM:SS".
    QString normalizedFull() const;
};

// Parses "Y-M-D", "Y-M-D H:M" or "Y-M-D H:M:S" ('/' may stand for '-'),
// blanks around allowed. Returns nothing when the text is not a valid date.
std::optional<DateTimeValue> parseDateTime(QStringView text);

// Translates one SQL text of the program's dialect for an engine.
// Throws DbError when a '#' literal is not a date or is not closed.
QString translateSql(const QString& sql, Engine engine);

// Where a translated "SELECT * FROM table ..." text names its table: the
// name as written (an identifier, or "user" quoted) and its position.
// Nothing for any other text. The row update opens only such texts.
struct SelectStarFrom
{
    QString table;
    qsizetype tableStart = 0;
};
std::optional<SelectStarFrom> matchSelectStarFrom(const QString& translated);

// True when name is a plain SQL identifier (letters, digits, underscore).
bool isPlainIdentifier(QStringView name);

// A table or column name as the engine's SQL must write it: the table and
// column named user are a reserved word on PostgreSQL and go in quotes
// ("user"); every other name stands as it is.
QString quoteIdentifier(QStringView name, Engine engine);

// The text of one statement for a driver that would run every statement of
// a text: a trailing ';' dropped, and DbError thrown when anything but
// blanks follows it. Quoted texts and identifiers and comments are skipped;
// a nested comment is refused rather than guessed.
QString singleStatement(const QString& sql);

// The text with everything between quotes blanked (the quotes kept, so
// positions match), for looking at the statement's own words. Empty when
// the text holds a comment or an unterminated quote.
QString blankQuoted(const QString& sql);

// The table of a translated single-table "SELECT * FROM t [WHERE ...]"
// without an order, grouping or limit of its own, as the text names it (an
// identifier, or "user" quoted); empty for any other text.
QString plainSelectTable(const QString& translated);

} // namespace vok
