#pragma once

#include "db/Connection.h"
#include "db/DbError.h"

#include <QString>

#include <QStringList>

namespace vok {

struct TableDescription;

// The start every command-line action shares that opens a department
// (vok --report, --labels, --import, --summary): the table looked up among
// those it serves, the department, its connection. A request it cannot
// serve is thrown as a refusal naming what it knows; the command line
// catches every failure at one place and ends with the exit code of its
// kind (commandExitCode()).
namespace CommandLine {

enum ExitCode
{
    Done = 0,
    Failed = 1, // the database or a file failed, or the user stopped it
    Refused = 2 // a request the action cannot serve, or input it cannot use
};

// The exit code of a failure.
ExitCode exitCode(const DbError& error);

// A request refused: thrown, told as the text.
[[noreturn]] void refuse(const QString& text);

// The table of that name among those the action serves. Unknown, the
// refusal is `refusal` with %1 the name asked for and %2 the names known
// joined by `separator`.
const TableDescription& table(const QString& name, const QStringList& known, const QString& refusal,
                              const QString& separator);

// One of the five departments, opened as the user named (a command line
// has no password). Checked first, opened when the action needs it.
class Department
{
public:
    // Refuses a department that is not one of the five.
    Department(const QString& name, const QString& userName);
    ConnectionPtr open() const;

private:
    QString m_connectionString;
};

} // namespace CommandLine

} // namespace vok
