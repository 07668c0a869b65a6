#pragma once

// What the benchmarks share: building their database in a child process,
// row counts, the process's own figures, and the shared server's own
// client (psql) for loading rows and for the comparison figure.
#include "core/FormContext.h"
#include "db/Connection.h"

#include <functional>
#include <optional>
#include <sys/resource.h>

namespace vok::bench {

// Where a benchmark's rows are: a data source name ("VOK1") or the path of
// an embedded database file of any name (a source holding a '/').
QString sourceOfFile(const QString& file);
ConnectionPtr openSource(const QString& source);

qint64 rowCount(Connection& c, const QString& table);

// Empties the tables and runs add, all in one transaction.
void refill(Connection& c, const QStringList& tables, const std::function<void()>& add);

// Runs build in a child process, so that neither its time nor its memory
// counts; false (with the failure on stderr) when it failed.
bool buildInChild(const char* program, const std::function<void()>& build);

// A class 1 user's context on the source, the message service in
// test mode (messages recorded, never shown).
FormContext benchContext(const QString& source);

double peakRssMb();
// The memory the process holds now (VmRSS), in MB; 0 where it cannot be read.
double residentMb();
// Processor seconds (user and system) of this process (RUSAGE_SELF) or of
// its finished children (RUSAGE_CHILDREN): a figure the other work on a
// shared machine disturbs less than wall time.
double cpuSeconds(int who = RUSAGE_SELF);
// Seconds a shell command takes; -1 when it fails.
double commandSeconds(const QByteArray& command);

// A data source of the shared server as psql reaches it, from the
// odbc.ini unixODBC reads ($ODBCINI, ~/.odbc.ini, /etc/odbc.ini).
struct ServerSource
{
    QString host, port, database, user, password;

    // "psql -X -q -h … -p … -U … -d …"; the password goes into PGPASSWORD.
    QByteArray psql() const;
    // Loads CSV rows that write() produces (one call a row, into the
    // stream) with \copy; false when psql fails.
    bool copy(const QString& table, const QStringList& columns,
              const std::function<void(std::FILE*)>& write) const;
};
std::optional<ServerSource> serverSource(const QString& dsn);

// A value as a CSV field (quoted when it holds a comma, a quote or a line
// break; a null value is an empty unquoted field).
QByteArray csvField(const QVariant& value);

} // namespace vok::bench
