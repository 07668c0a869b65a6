#pragma once

#include "db/Connection.h"

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

// True in the PostgreSQL run of a test.
bool onServer();

// Runs one SELECT and returns every row as a list of texts.
QList<QStringList> rows(Connection& c, const QString& sql);

// The text a failure thrown by action shows (the COM error box's), empty
// when it throws none.
QString failureText(const std::function<void()>& action);

// Makes DEVICE as a database made before one stock row per code was
// declared, so that a test can store two stock rows of one code.
void allowDuplicateStockRows(Connection& c);

} // namespace vok::test
