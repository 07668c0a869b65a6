#pragma once

#include "db/Connection.h"

#include <QMetaType>
#include <QTemporaryDir>
#include <functional>
#include <memory>

namespace vok::test {

// One test's surroundings: a fresh temporary data folder holding the backup
// folder 备份, no backup at log-in, the message service in test mode, the
// clock on system time, help launches recorded. Create one in init().
//
// A test registered with vok_add_engine_test runs twice: on the embedded
// engine, and (as NAME_pg, VOK_TEST_ENGINE=postgres) on the PostgreSQL
// server whose data sources VOK1…VOK5 $ODBCINI defines. There the sandbox
// empties the nine tables of the five department databases (and creates
// any that a test dropped). Without a reachable server the process fails
// when CI=true or a server was started on purpose (VOK_PG_DIR set), and
// otherwise exits with the code CTest reports as skipped, saying why.
class Sandbox
{
public:
    Sandbox();
    ~Sandbox();

    QString dataDir() const { return m_dir.path(); }
    // The department database of a data source (VOK1 …): embedded, created
    // on demand, or on the server in the PostgreSQL run.
    ConnectionPtr open(const QString& dsn = QStringLiteral("VOK1"));

    // Help launches since the sandbox was made: program and arguments.
    QList<QStringList> helpLaunches() const { return *m_launches; }

private:
    QTemporaryDir m_dir;
    std::shared_ptr<QList<QStringList>> m_launches;
};

// A text written in the source as UTF-8 (the Chinese texts tests compare).
inline QString u(const char* text)
{
    return QString::fromUtf8(text);
}

// True in the PostgreSQL run of a test.
bool onServer();

// Rows in and out on either engine, values bound.
//
// Appends rows to a table: "DEVICE" takes each row's values in the order
// of the table's columns (a shorter row leaves the rest out), "DEVICE_OUT(
// code,department,out_date,out_number)" in the order named. Dates as text
// ("2004-1-5 9:3:7"), numbers as numbers or text.
//   test::seed(*db, "DEVICE", {{"001", 5, 20, 2, 50}, {"002", 1}});
void seed(Connection& c, const QString& table, const QList<QVariantList>& rows);

// Every row of one SELECT as a list of texts, a value bound to each ?.
// The server gives rows in no order of its own: say ORDER BY when it counts.
QList<QStringList> rows(Connection& c, const QString& sql, const QVariantList& values = {});
// The rows of a table that meet a condition (none: all), in the order they
// were added.
QList<QStringList> table(Connection& c, const QString& name, const SqlText& condition = {},
                         const QVariantList& values = {});
// The first column of the first row as text; empty when there is no row.
QString value(Connection& c, const QString& sql, const QVariantList& values = {});
// Runs one statement with values bound; returns the rows it changed.
qint64 exec(Connection& c, const QString& sql, const QVariantList& values = {});
// Opens the first of the rows for update, changes it and stores it.
void updateRow(Connection& c, const TableRows& rows, const TableDef& table,
               const std::function<void(RowRecord&)>& change);

// The text a failure thrown by action shows (the COM error box's), empty
// when it throws none.
QString failureText(const std::function<void()>& action);

// Makes DEVICE as a database made before one stock row per code was
// declared, so that a test can store two stock rows of one code.
void allowDuplicateStockRows(Connection& c);

} // namespace vok::test

// SQL texts as rows of data-driven tests.
Q_DECLARE_METATYPE(vok::SqlText)
