#pragma once

#include <QString>
#include <optional>

namespace vok {

// The engines a connection can stand on. The core writes each SQL text in
// the SQL both understand, its values bound; what differs is said here.
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

// Where a date value goes in a condition: a ? to which its normalised
// text ("YYYY-MM-DD HH:MM:SS") is bound; the server is told it is a date.
QString dateParameter(Engine engine);

} // namespace vok
