#include "support/TestSupport.h"

#include "app/AutoBackup.h"
#include "core/Clock.h"
#include "core/Departments.h"
#include "core/HelpLauncher.h"
#include "db/Backup.h"
#include "db/DataFolder.h"
#include "db/DbError.h"
#include "db/Schema.h"
#include "ui/ComErrorBox.h"
#include "ui/FileDialogService.h"
#include "ui/MessageService.h"

#include <QHash>
#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>

namespace vok::test {

namespace {

constexpr int kSkipExitCode = 77; // SKIP_RETURN_CODE of the _pg tests

[[noreturn]] void noServer(const QString& why)
{
    const QByteArray text = why.toUtf8();
    // In CI, and wherever scripts/pg-cluster.sh started a server on purpose
    // (VOK_PG_DIR), a test that cannot reach it fails.
    if (qgetenv("CI") == "true" || !qgetenv("VOK_PG_DIR").isEmpty())
        qFatal("PostgreSQL test without a server: %s", text.constData());
    std::fprintf(stderr,
                 "SKIP: %s (no PostgreSQL server was started: run scripts/test.sh, or "
                 "eval \"$(bash scripts/pg-cluster.sh start build/bin/vok)\")\n",
                 text.constData());
    std::exit(kSkipExitCode);
}

// Set when a test rebuilt DEVICE on the server without its unique key.
bool deviceChanged = false;

QString deviceCreateStatement(Engine engine)
{
    for (const QString& s : schema::createStatements(engine))
        if (s.contains(QRegularExpression(QStringLiteral("EXISTS \"?DEVICE\"? \\("),
                                          QRegularExpression::CaseInsensitiveOption)))
            return s;
    qFatal("no DEVICE table in the schema");
}

void emptyTables(Connection& c)
{
    // The closed months first: they keep the rows of the tables before them.
    for (auto t = schema::all().rbegin(); t != schema::all().rend(); ++t)
        c.remove({(*t)->name});
}

// Empties the department databases on the server before a test, and
// creates a table a test dropped. The connections stay open for the next
// test of the process: opening five per test would dominate the run.
void resetServer()
{
    static QHash<QString, ConnectionPtr> connections;
    // A test process before this one may have left DEVICE without its
    // unique key.
    const bool rebuildDevice = connections.isEmpty() || deviceChanged;
    deviceChanged = false;
    for (const Department& d : departments()) {
        ConnectionPtr& c = connections[d.dsn];
        try {
            if (!c || !c->isOpen()) {
                if (!odbcDataSourceExists(d.dsn))
                    noServer(QStringLiteral("data source %1 is not defined in ODBCINI=%2")
                                 .arg(d.dsn, qEnvironmentVariable("ODBCINI")));
                c = openConnection(ConnectionString{d.dsn, {}, {}}.toString());
            }
            try {
                emptyTables(*c);
            } catch (const DbError& e) {
                // A test restarted the server under the kept connection.
                if (e.failure() == DbError::Failure::ConnectionLost)
                    c->reopen();
                for (const QString& sql : schema::createStatements(Engine::Postgres))
                    exec(*c, sql);
                emptyTables(*c);
            }
            if (rebuildDevice) {
                exec(*c, QStringLiteral("DROP TABLE DEVICE"));
                exec(*c, deviceCreateStatement(Engine::Postgres));
            }
        } catch (const DbError& e) {
            noServer(QStringLiteral("%1: %2").arg(d.dsn, e.text()));
        }
    }
}

} // namespace

bool onServer()
{
    return qgetenv("VOK_TEST_ENGINE") == "postgres";
}

Sandbox::Sandbox() : m_launches(std::make_shared<QList<QStringList>>())
{
    if (onServer()) {
        resetServer();
    } else {
        // Run by hand outside CTest, the embedded tests still never reach
        // a data source that an odbc.ini of this machine defines.
        qputenv("ODBCINI", QFile::encodeName(m_dir.filePath(QStringLiteral("odbc.ini"))));
        qputenv("ODBCSYSINI", QFile::encodeName(m_dir.path()));
    }
    DataFolder::setPath(m_dir.path());
    // Backups stay in the test's folder, and only a test that asks for
    // one gets the backup at log-in.
    BackupFolder::setPath(m_dir.filePath(QStringLiteral("备份")));
    AutoBackup::setEnabled(false);
    Messages::setTestMode(true);
    FileDialogs::setTestMode(true);
    FileDialogs::clear();
    Messages::clearShown();
    Clock::setNow(QDateTime());
    auto launches = m_launches;
    HelpLauncher::setLauncher([launches](const QString& program, const QStringList& args) {
        launches->append(QStringList{program} + args);
    });
}

Sandbox::~Sandbox()
{
    HelpLauncher::setLauncher({});
    BackupFolder::setPath(QString());
    DataFolder::setPath(QString());
}

ConnectionPtr Sandbox::open(const QString& dsn)
{
    return openConnection(ConnectionString{dsn, {}, {}}.toString());
}

QString failureText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const DbError& e) {
        return comErrorText(e);
    }
    return {};
}

namespace {

QList<QStringList> texts(RowSet& rs)
{
    QList<QStringList> out;
    const int n = rs.columnCount();
    while (rs.next()) {
        QStringList row;
        for (int i = 0; i < n; ++i)
            row << rs.text(i);
        out << row;
    }
    return out;
}

} // namespace

void seed(Connection& c, const QString& table, const QList<QVariantList>& rows)
{
    const qsizetype open = table.indexOf(QLatin1Char('('));
    const QString name = open < 0 ? table : table.left(open).trimmed();
    QStringList names;
    if (open >= 0) {
        for (const QString& n : table.mid(open + 1).chopped(1).split(QLatin1Char(',')))
            names << n.trimmed();
    } else {
        const TableDef* def = schema::find(name);
        if (!def)
            qFatal("test::seed: no table %s in the schema", qPrintable(name));
        names = def->columnNames();
        qsizetype longest = 0;
        for (const QVariantList& row : rows)
            longest = std::max(longest, row.size());
        names = names.mid(0, longest);
    }
    qsizetype next = 0;
    c.appendRows(name, names, [&](QVariantList& values) {
        if (next == rows.size())
            return false;
        values = rows.at(next++);
        while (values.size() < names.size())
            values << QVariant();
        return true;
    });
}

QList<QStringList> rows(Connection& c, const QString& sql, const QVariantList& values)
{
    return texts(*c.queryWith(sql, values));
}

QList<QStringList> table(Connection& c, const QString& name, const SqlText& condition,
                         const QVariantList& values)
{
    return texts(*c.select({name, condition, values}));
}

QString value(Connection& c, const QString& sql, const QVariantList& values)
{
    auto rs = c.queryWith(sql, values);
    return rs->next() ? rs->text(0) : QString();
}

qint64 exec(Connection& c, const QString& sql, const QVariantList& values)
{
    return c.executeWith(sql, values);
}

void updateRow(Connection& c, const TableRows& rows, const TableDef& table,
               const std::function<void(RowRecord&)>& change)
{
    auto u = c.openRow(rows, table);
    change(u->record());
    u->store();
}

void allowDuplicateStockRows(Connection& c)
{
    QString create = deviceCreateStatement(c.engine());
    create.remove(QRegularExpression(QStringLiteral(",\\s*UNIQUE\\s*\\([^)]*\\)"),
                                     QRegularExpression::CaseInsensitiveOption));
    create.remove(QRegularExpression(QStringLiteral("\\s+UNIQUE\\b"),
                                     QRegularExpression::CaseInsensitiveOption));
    exec(c, QStringLiteral("DROP TABLE DEVICE"));
    exec(c, create);
    // The server's databases outlive the test: the next one gets the
    // schema's DEVICE back.
    if (c.engine() == Engine::Postgres)
        deviceChanged = true;
}

} // namespace vok::test
